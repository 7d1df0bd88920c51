#pragma once

#include "saver/lock_on_end.hpp"
#include "saver/saver_session.hpp"
#include "settings/settings.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace zorblinth::x11 {

// A property on the saver's window counting the ticks drawn whole (a 32-bit CARDINAL), for
// tools that measure how many pictures it makes a second: on a large screen a picture goes to
// the server in several requests, so counting changes on the screen would count halves.
inline constexpr char ticksDrawnProperty[] = "_ZORBLINTH_TICKS_DRAWN";

// Ends the process at once with the status start-up gives this outcome; must not return. The
// saver calls it when the connection to the X server is lost, from inside Xlib, where nothing
// can be unwound and no further request can be made.
using EndProcess = void (*)(SaverOutcome);

// Claims the program's one running copy for as long as the process lives; false when another
// copy has it.
using ClaimRunningCopy = std::function<bool()>;

// The standalone saver: records where the pointer is, claims the one running copy, reads the
// settings (the file's, overridden where asked), freezes each monitor's picture (or the primary
// monitor's alone) in a window above everything, grabs the keyboard and the pointer, hides the
// cursor and draws a tick on every monitor every 50 ms until the first input that ends the
// saver, or SIGTERM, SIGINT or SIGHUP. Monitors that come or go meanwhile are followed. With a
// locker (--lock), input that ends the saver locks the session first (lockAfterInput): the
// keyboard and the pointer are let go for the locker while the windows stay.
SaverOutcome runStandaloneSaver(const std::filesystem::path& settingsFile,
                                const SettingsOverrides& overrides, MonitorChoice monitors,
                                const ClaimRunningCopy& claimRunningCopy,
                                EndProcess endOnLostConnection, SessionLocker* locker = nullptr);

// Draws into a screen-saver host's window (none: the root window) until SIGTERM, SIGINT or
// SIGHUP, or until the window goes; input and ending belong to the host.
SaverOutcome runHostedSaver(const std::filesystem::path& settingsFile,
                            const SettingsOverrides& overrides, std::optional<std::uint64_t> window,
                            EndProcess endOnLostConnection);

} // namespace zorblinth::x11
