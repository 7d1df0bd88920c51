#pragma once

#include "saver/canvas.hpp"
#include "saver/monitor_layout.hpp"
#include "saver/x11/desktop_picture_x11.hpp"

#include <X11/Xlib.h>

#include <cstddef>
#include <span>
#include <vector>

namespace zorblinth::x11 {

// Every monitor's part of the root window: RandR 1.5's monitors (which include those a user
// defined with `xrandr --setmonitor`), else the lit CRTCs, else Xinerama's heads, else the
// whole screen. Never empty; an area shown on two outputs (mirrored) comes once.
std::vector<Area> everyMonitor(Display* display);

// The primary monitor's part of the root window, as RandR tells it; the first lit monitor when
// none is marked primary, and the whole screen without RandR.
Area primaryMonitor(Display* display);

// Whether the pointer may be at this point of the screen: on a lit CRTC, where the server keeps
// it (true where RandR tells no CRTCs). A pointer whose place went dark has been moved by the
// server.
bool pointerMayRestAt(Display* display, Point point);

// Asks for word whenever monitors come, go or change: RandR's events (RRScreenChangeNotify,
// RRNotify) and the root window's ConfigureNotify; false without RandR. rrEventBase is where
// RandR's events start.
bool watchMonitorChanges(Display* display, int& rrEventBase);

} // namespace zorblinth::x11
