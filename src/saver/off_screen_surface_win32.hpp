#pragma once

#include <windows.h>

#include "saver/gdi_handles_win32.hpp"

namespace zorblinth::win32 {

// The saver's persistent picture: a bitmap of screen size in a memory DC. Ticks draw into it
// and every repaint copies from it, so nothing drawn is ever lost.
class OffScreenSurface {
public:
    // Compatible with the given DC; check with operator bool whether GDI provided it.
    OffScreenSurface(HDC compatibleWith, int width, int height);
    OffScreenSurface(const OffScreenSurface&) = delete;
    OffScreenSurface& operator=(const OffScreenSurface&) = delete;

    explicit operator bool() const { return dc_ && bitmap_; }
    HDC dc() const { return dc_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }

    // A 1:1 copy of the source's pixels from its origin to the surface's origin.
    void copyFrom(HDC source) const;
    // The surface's pixels under this rectangle, to the same place in the destination.
    void paintTo(HDC destination, const RECT& area) const;

private:
    int width_;
    int height_;
    MemoryDc dc_;
    GdiObject<HBITMAP> bitmap_;
    // Last, so that it is undone first and the bitmap is never deleted while selected.
    Selection selectedBitmap_;
};

} // namespace zorblinth::win32
