#pragma once

#include <windows.h>

#include "saver/monitor_layout.hpp"
#include "saver/saver_session.hpp"
#include "saver/win32/off_screen_surface_win32.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace zorblinth::win32 {

struct SaverWindows; // what every saver window shares (saver_window_win32.cpp)

// One monitor's saver window: a borderless top-most window over exactly the monitor's area,
// the frozen picture of that area and the drawing that grows on it.
struct MonitorWindow {
    SaverWindows* saver = nullptr;
    Area area;
    HWND window = nullptr;
    std::unique_ptr<OffScreenSurface> surface;
    // The session's own drawing where empty (the first monitor covered), else one of its own.
    std::optional<PictureDrawing> drawing;
    std::uintptr_t ticksDrawn = 0;
    std::uintptr_t ticksCut = 0;
};

// Window properties of each saver window counting its ticks so far, drawn whole and cut short
// by input that ends the saver, for tests and diagnostics to read from outside.
inline constexpr wchar_t ticksDrawnProperty[] = L"ZorblinthTicksDrawn";
inline constexpr wchar_t ticksCutProperty[] = L"ZorblinthTicksCut";

struct MonitorWindowClass {
    HINSTANCE instance;
    const wchar_t* name;
    const wchar_t* title;
};

// Makes the monitor's window, hidden, and takes its picture from the desktop: the window must
// not show before every picture is taken. Null when Windows could not make the window or its
// surface. The window's user data points to the monitor window from then on.
std::unique_ptr<MonitorWindow> coverMonitor(const MonitorWindowClass& windowClass, Area area,
                                            HDC desktop, SaverWindows& saver,
                                            std::optional<PictureDrawing> drawing);

// Shows it top-most over its monitor; only Form1 takes the keyboard.
void show(const MonitorWindow& monitor, bool activate);

// Draws one tick onto its picture and asks for it to be painted; false when input that ends
// the saver cut it short.
bool drawTick(MonitorWindow& monitor, SaverSession& session, const InputWaiting& endingInput);

// The monitor is gone: its window goes, and with it everything it drew.
void takeAway(MonitorWindow& monitor);

} // namespace zorblinth::win32
