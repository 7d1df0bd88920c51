#include "saver/win32/off_screen_surface_win32.hpp"

namespace zorblinth::win32 {

OffScreenSurface::OffScreenSurface(HDC compatibleWith, int width, int height)
    : width_(width), height_(height), dc_(CreateCompatibleDC(compatibleWith)),
      bitmap_(topDownDibSection(dc_.get(), width, height)),
      selectedBitmap_(dc_.get(), bitmap_.bitmap.get()) {}

PixelSurface OffScreenSurface::pixels() const {
    GdiFlush();
    return bitmap_.pixels;
}

void OffScreenSurface::copyFrom(HDC source, int left, int top) const {
    BitBlt(dc_.get(), 0, 0, width_, height_, source, left, top, SRCCOPY);
}

void OffScreenSurface::paintTo(HDC destination, const RECT& area) const {
    BitBlt(destination, area.left, area.top, area.right - area.left, area.bottom - area.top,
           dc_.get(), area.left, area.top, SRCCOPY);
}

} // namespace zorblinth::win32
