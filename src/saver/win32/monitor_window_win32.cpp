#include "saver/win32/monitor_window_win32.hpp"

namespace zorblinth::win32 {

std::unique_ptr<MonitorWindow> coverMonitor(const MonitorWindowClass& windowClass, Area area,
                                            HDC desktop, SaverWindows& saver,
                                            std::optional<PictureDrawing> drawing) {
    auto monitor = std::make_unique<MonitorWindow>();
    monitor->saver = &saver;
    monitor->area = area;
    monitor->drawing = std::move(drawing);
    monitor->surface = std::make_unique<OffScreenSurface>(desktop, area.width, area.height);
    if (!*monitor->surface)
        return nullptr;
    // The desktop's DC is in virtual-screen pixels: the monitor's area is where it lies there.
    monitor->surface->copyFrom(desktop, area.x, area.y);
    monitor->window = CreateWindowExW(WS_EX_TOPMOST, windowClass.name, windowClass.title, WS_POPUP,
                                      area.x, area.y, area.width, area.height, nullptr, nullptr,
                                      windowClass.instance, monitor.get());
    if (monitor->window == nullptr)
        return nullptr;
    return monitor;
}

void show(const MonitorWindow& monitor, bool activate) {
    const Area& area = monitor.area;
    SetWindowPos(monitor.window, HWND_TOPMOST, area.x, area.y, area.width, area.height,
                 SWP_SHOWWINDOW | (activate ? 0 : SWP_NOACTIVATE));
    if (activate) {
        SetForegroundWindow(monitor.window);
        SetFocus(monitor.window);
    }
    UpdateWindow(monitor.window);
}

bool drawTick(MonitorWindow& monitor, SaverSession& session, const InputWaiting& endingInput) {
    const PixelSurface picture = monitor.surface->pixels();
    const bool whole = monitor.drawing ? monitor.drawing->tick(picture, endingInput)
                                       : session.tick(picture, endingInput);
    ++(whole ? monitor.ticksDrawn : monitor.ticksCut);
    SetPropW(monitor.window, whole ? ticksDrawnProperty : ticksCutProperty,
             reinterpret_cast<HANDLE>(whole ? monitor.ticksDrawn : monitor.ticksCut));
    InvalidateRect(monitor.window, nullptr, FALSE);
    return whole;
}

void takeAway(MonitorWindow& monitor) {
    // Unhooked first: its WM_DESTROY is no reason to end the saver.
    SetWindowLongPtrW(monitor.window, GWLP_USERDATA, 0);
    RemovePropW(monitor.window, ticksDrawnProperty);
    RemovePropW(monitor.window, ticksCutProperty);
    DestroyWindow(monitor.window);
    monitor.window = nullptr;
}

} // namespace zorblinth::win32
