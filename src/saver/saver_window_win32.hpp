#pragma once

#include <windows.h>

#include "saver/canvas.hpp"
#include "startup/exit_status.hpp"

#include <filesystem>

namespace zorblinth {

// Runs the saver: freezes the desktop full-screen in the window Form1, hides the cursor,
// scribbles over the picture every 50 ms and ends on the first key, click or move away from
// startCursor. Returns normalEnd then, or windowSystemFailed when the window or its drawing
// surface could not be made.
ExitStatus runSaver(HINSTANCE instance, Point startCursor,
                    const std::filesystem::path& settingsFile);

} // namespace zorblinth
