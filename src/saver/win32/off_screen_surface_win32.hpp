#pragma once

#include <windows.h>

#include "platform/gdi_handles_win32.hpp"
#include "saver/raster/pixel_surface.hpp"
#include "saver/win32/dib_section_win32.hpp"

namespace zorblinth::win32 {

// A monitor's persistent picture: a 32-bit top-down DIB section of the monitor's size in a memory
// DC. The snapshot comes in and every repaint goes out through GDI; ticks write its pixels
// directly. Nothing drawn is ever lost.
class OffScreenSurface {
public:
    // Its DC is compatible with the given one; check with operator bool whether GDI provided
    // the DC and the bitmap.
    OffScreenSurface(HDC compatibleWith, int width, int height);
    OffScreenSurface(const OffScreenSurface&) = delete;
    OffScreenSurface& operator=(const OffScreenSurface&) = delete;

    explicit operator bool() const { return dc_ && bitmap_; }
    HDC dc() const { return dc_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }

    // The pixels, ready to be written: GDI batches its work, so whatever it was still to do on
    // them (the snapshot copy) is finished first.
    PixelSurface pixels() const;
    // A 1:1 copy of the source's pixels from (left, top) on to the surface's origin.
    void copyFrom(HDC source, int left = 0, int top = 0) const;
    // The surface's pixels under this rectangle, to the same place in the destination.
    void paintTo(HDC destination, const RECT& area) const;

private:
    int width_;
    int height_;
    MemoryDc dc_;
    DibSection bitmap_;
    // Last, so that it is undone first and the bitmap is never deleted while selected.
    Selection selectedBitmap_;
};

} // namespace zorblinth::win32
