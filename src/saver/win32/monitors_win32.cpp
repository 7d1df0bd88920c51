#include "saver/win32/monitors_win32.hpp"

#include <algorithm>

namespace zorblinth::win32 {

namespace {

BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM context) {
    auto& monitors = *reinterpret_cast<std::vector<Area>*>(context);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info))
        return TRUE;
    const RECT& r = info.rcMonitor;
    const Area area{r.left, r.top, r.right - r.left, r.bottom - r.top};
    if (area.width <= 0 || area.height <= 0 ||
        std::find(monitors.begin(), monitors.end(), area) != monitors.end())
        return TRUE; // mirrored monitors are covered once
    if (info.dwFlags & MONITORINFOF_PRIMARY)
        monitors.insert(monitors.begin(), area);
    else
        monitors.push_back(area);
    return TRUE;
}

} // namespace

std::vector<Area> everyMonitor() {
    std::vector<Area> monitors;
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&monitors));
    if (monitors.empty())
        monitors.push_back({0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
    return monitors;
}

bool onSomeMonitor(Point point) {
    return MonitorFromPoint(POINT{point.x, point.y}, MONITOR_DEFAULTTONULL) != nullptr;
}

} // namespace zorblinth::win32
