#pragma once

#include <windows.h>

#include "platform/gdi_handles_win32.hpp"
#include "saver/canvas.hpp"

namespace zorblinth::win32 {

// Draws the tick's strokes into a GDI DC with a solid pen of one width: what GDI's own pens make
// of them, the reference PixelCanvas is compared with. The DC's own pen is put back when the
// canvas goes away.
class GdiCanvas final : public Canvas {
public:
    GdiCanvas(HDC dc, int width, int height, int penWidth);
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    int width() const override { return width_; }
    int height() const override { return height_; }
    void line(Point from, Point to, Colour colour) override;
    void box(Point corner, Point oppositeCorner, Colour colour) override;

private:
    // Makes the pen of this colour current; false when GDI has no pen to give.
    bool usePen(Colour colour);

    HDC dc_;
    int width_;
    int height_;
    int penWidth_;
    // Wider pens cannot change colour in place, so each stroke gets its own; the one last used
    // stays selected until the next replaces it. Declared before originalPen_ so it is deleted
    // only after the DC's own pen is back.
    GdiObject<HPEN> widePen_;
    Selection originalPen_;
};

} // namespace zorblinth::win32
