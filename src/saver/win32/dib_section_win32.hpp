#pragma once

#include <windows.h>

#include "platform/gdi_handles_win32.hpp"
#include "saver/raster/pixel_surface.hpp"

namespace zorblinth::win32 {

// A 32-bit top-down bitmap whose pixels GDI and our own code share: GDI draws on it through a
// DC, PixelCanvas writes its bits, and the layout is known whatever the display's depth.
struct DibSection {
    GdiObject<HBITMAP> bitmap;
    // Valid while the bitmap lives; GDI may still be drawing on it until GdiFlush.
    PixelSurface pixels;

    explicit operator bool() const { return bitmap && pixels.pixels; }
};

inline DibSection topDownDibSection(HDC dc, int width, int height) {
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    DibSection section{
        GdiObject<HBITMAP>(CreateDIBSection(dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0)), {}};
    if (section.bitmap && bits)
        // 32-bit rows need no padding: the stride is the width.
        section.pixels = {static_cast<std::uint32_t*>(bits), width, height, width, xrgbPixels};
    return section;
}

} // namespace zorblinth::win32
