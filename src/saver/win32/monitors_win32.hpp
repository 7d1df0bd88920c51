#pragma once

#include <windows.h>

#include "saver/canvas.hpp"
#include "saver/monitor_layout.hpp"

#include <vector>

namespace zorblinth::win32 {

// Every monitor's rectangle in virtual-screen pixels, as EnumDisplayMonitors tells them, the
// primary one first; never empty (the primary screen where Windows tells none).
std::vector<Area> everyMonitor();

// Whether a point of the virtual screen lies on some monitor now: a pointer whose monitor was
// taken away has been moved by Windows.
bool onSomeMonitor(Point point);

} // namespace zorblinth::win32
