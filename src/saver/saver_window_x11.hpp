#pragma once

#include "startup/command_line_linux.hpp"
#include "startup/exit_status.hpp"

#include <filesystem>

namespace zorblinth::x11 {

// The standalone saver: records where the pointer is, claims the one running copy (lockFile),
// freezes the primary monitor's picture in a window above everything, grabs the keyboard and
// the pointer, hides the cursor and scribbles every 50 ms until the first key that types a
// character, any button, or a move away from where the pointer was.
ExitStatus runStandaloneSaver(const std::filesystem::path& settingsFile,
                              const std::filesystem::path& lockFile,
                              const CommandLine& commandLine);

// Draws into a screen-saver host's window (or the root window) until SIGTERM; input and
// ending belong to the host.
ExitStatus runHostedSaver(const std::filesystem::path& settingsFile,
                          const CommandLine& commandLine);

} // namespace zorblinth::x11
