#pragma once

#include <windows.h>

#include "saver/canvas.hpp"
#include "saver/saver_session.hpp"
#include "saver/win32/monitor_window_win32.hpp"
#include "saver/win32/tick_loop_win32.hpp"

#include <filesystem>

namespace zorblinth::win32 {

// Runs the saver over every monitor, each in a window of its own (the primary one's is Form1):
// freezes each monitor's part of the desktop in its window, hides the cursor, scribbles over
// the pictures twenty times a second and ends on the first key, click or move away from
// startCursor (in virtual-screen pixels) on any of them, or when another program takes the
// screen. Monitors that come, go or change are followed without ending it. Returns
// windowSystemFailed when a window, its drawing surface or the timer could not be made. The
// timer is the high-resolution one where Windows has it; tests may ask for the window timer.
SaverOutcome runSaver(HINSTANCE instance, Point startCursor,
                      const std::filesystem::path& settingsFile,
                      TickTimerSource timerSource = TickTimerSource::highResolution);

} // namespace zorblinth::win32
