#pragma once

#include <windows.h>

#include "saver/canvas.hpp"
#include "saver/saver_session.hpp"
#include "saver/win32/tick_loop_win32.hpp"

#include <filesystem>

namespace zorblinth::win32 {

// Runs the saver: freezes the desktop full-screen in the window Form1, hides the cursor,
// scribbles over the picture twenty times a second and ends on the first key, click or move
// away from startCursor, or when another program takes the screen. Returns windowSystemFailed
// when the window, its drawing surface or its timer could not be made. The timer is the
// high-resolution one where Windows has it; tests may ask for the window timer.
SaverOutcome runSaver(HINSTANCE instance, Point startCursor,
                      const std::filesystem::path& settingsFile,
                      TickTimerSource timerSource = TickTimerSource::highResolution);

// Window properties of the saver's window counting its ticks so far, drawn whole and cut short
// by input that ends the saver, for tests and diagnostics to read from outside.
inline constexpr wchar_t ticksDrawnProperty[] = L"ZorblinthTicksDrawn";
inline constexpr wchar_t ticksCutProperty[] = L"ZorblinthTicksCut";

} // namespace zorblinth::win32
