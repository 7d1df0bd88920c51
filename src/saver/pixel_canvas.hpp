#pragma once

#include "saver/canvas.hpp"
#include "saver/pixel_surface.hpp"

#include <cstdint>

namespace zorblinth {

// The saver's one drawing path on every platform: strokes rasterised straight into a 32-bit
// surface.
//
// Width 1 sets the pixels a cosmetic GDI pen sets between MoveToEx and LineTo: Bresenham's line
// with GDI's tie-breaking, the end point left out. Wider pens are solid and round-ended: the
// pixels whose centres lie within half the width of the segment (even widths sit half a pixel
// off the line, on the side where GDI puts their extra pixel). End points may be any 32-bit values;
// clipping to the surface never changes which pixels inside it are set.
class PixelCanvas final : public Canvas {
public:
    PixelCanvas(const PixelSurface& surface, int penWidth);

    int width() const override { return surface_.width; }
    int height() const override { return surface_.height; }
    void line(Point from, Point to, Colour colour) override;
    // Four sides with the pen, as a closed polyline draws them; a box with both corners on one
    // pixel still leaves a dot, one of zero width or height its line.
    void box(Point corner, Point oppositeCorner, Colour colour) override;

    // Pixel writes so far, overdrawn pixels counted again: what the strokes cost in memory.
    std::uint64_t pixelsWritten() const { return pixelsWritten_; }

private:
    void stroke(Point from, Point to, std::uint32_t pixel);

    PixelSurface surface_;
    int penWidth_;
    std::uint64_t pixelsWritten_ = 0;
};

} // namespace zorblinth
