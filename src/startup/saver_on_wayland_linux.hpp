#pragma once

#include "saver/lock_on_end.hpp"
#include "startup/command_line_linux.hpp"
#include "startup/exit_status.hpp"

#include <filesystem>
#include <functional>
#include <optional>

namespace zorblinth::posix {

// Runs the standalone saver on Wayland when it is asked for (--wayland) or, unless X11 is
// (--x11), when $WAYLAND_DISPLAY names a compositor that answers: claims the one running copy
// (claimRunningCopy: false when another copy has it) and reads the settings before anything is
// shown. None when the saver belongs on X11 instead. Without any window system to run on, it says
// so and fails. A locker (--lock) locks the session once input has ended the saver.
std::optional<ExitStatus> runSaverOnWaylandIfChosen(const std::filesystem::path& settingsFile,
                                                    const std::function<bool()>& claimRunningCopy,
                                                    const CommandLine& commandLine,
                                                    SessionLocker* locker);

} // namespace zorblinth::posix
