#pragma once

#include "saver/canvas.hpp"
#include "saver/raster/pixel_surface.hpp"
#include "saver/raster/stroke_rows.hpp"

#include <cstdint>
#include <cstring>

namespace zorblinth {

// Sets count pixels from `at` on: four at a time where there are four, the last four
// overlapping the ones before, so that short runs (most of a tick's) cost a few stores and no
// tail loop.
inline void fillPixels(std::uint32_t* at, std::int64_t count, std::uint32_t pixel) {
    if (count < 4) {
        for (std::int64_t i = 0; i < count; ++i)
            at[i] = pixel;
        return;
    }
    const std::uint32_t quad[4] = {pixel, pixel, pixel, pixel};
    for (std::int64_t i = 0; i + 4 < count; i += 4)
        std::memcpy(at + i, quad, sizeof quad);
    std::memcpy(at + count - 4, quad, sizeof quad);
}

// Sets the pixels of one stroke that lie on the surface; returns how many.
std::int64_t drawStroke(const PixelSurface& surface, const StrokeRows& stroke, std::uint32_t pixel);

// Strokes drawn one after another straight into a 32-bit surface, with the pixels StrokeRows
// gives (a cosmetic GDI pen's at width 1, round-ended solid ones beyond, up to widestPen). End
// points may be any 32-bit values; clipping to the surface never changes which pixels inside it
// are set. The simple way to draw: the tick's own path draws the same pixels faster.
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
