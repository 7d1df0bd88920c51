#pragma once

#include "startup/command_line_linux.hpp"
#include "startup/exit_status.hpp"

#include <filesystem>
#include <memory>

#include <optional>

struct wl_display;

namespace zorblinth::wayland {

struct DisplayDisconnect {
    void operator()(wl_display* display) const;
};
using DisplayConnection = std::unique_ptr<wl_display, DisplayDisconnect>;

// A connection to the compositor named by $WAYLAND_DISPLAY (or $WAYLAND_SOCKET); null when
// none answers.
DisplayConnection connectToCompositor();

// The standalone saver on a Wayland compositor: claims the one running copy (lockFile), freezes
// the output's picture (where the compositor lets clients copy it; else black) in an overlay
// layer surface (or a full-screen window where there is no layer shell) that takes the
// keyboard, hides the cursor and scribbles every 50 ms until the first key that types a
// character, any button, or a move away from where the pointer first entered.
ExitStatus runStandaloneSaver(DisplayConnection compositor,
                              const std::filesystem::path& settingsFile,
                              const std::filesystem::path& lockFile,
                              const CommandLine& commandLine);

// Runs the standalone saver on Wayland when it is asked for (--wayland) or, unless X11 is
// (--x11), when $WAYLAND_DISPLAY names a compositor that answers; none when the saver belongs
// on X11 instead. Without any window system to run on it says so and fails.
std::optional<ExitStatus> runStandaloneSaverIfChosen(const std::filesystem::path& settingsFile,
                                                     const std::filesystem::path& lockFile,
                                                     const CommandLine& commandLine);

} // namespace zorblinth::wayland
