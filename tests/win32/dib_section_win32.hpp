#pragma once

#include <windows.h>

#include "saver/gdi_handles_win32.hpp"

namespace zorblinth::win32 {

// A 32-bit top-down bitmap of known layout for the DC, so tests and benchmarks draw on the same
// kind of surface whatever the display's depth.
inline GdiObject<HBITMAP> topDownDibSection(HDC dc, int width, int height) {
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    return GdiObject<HBITMAP>(CreateDIBSection(dc, &format, DIB_RGB_COLORS, &pixels, nullptr, 0));
}

} // namespace zorblinth::win32
