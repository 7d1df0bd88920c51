#pragma once

#include "startup/command_line_linux.hpp"
#include "startup/exit_status.hpp"

namespace zorblinth::posix {

// --autostart SECONDS: writes the login entry for the watcher and starts the watcher now,
// ending one that already runs so the new timeout holds. --autostart off: removes the entry and
// ends the running watcher. One line on stderr for what failed.
ExitStatus runAutostart(const CommandLine& commandLine);

} // namespace zorblinth::posix
