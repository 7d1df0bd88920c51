#include "saver/raster/pixel_canvas.hpp"

#include <algorithm>
#include <cstdint>

namespace zorblinth {

std::int64_t drawStroke(const PixelSurface& surface, const StrokeRows& stroke,
                        std::uint32_t pixel) {
    const std::int64_t top = std::max<std::int64_t>(stroke.firstRow(), 0);
    const std::int64_t bottom = std::min<std::int64_t>(stroke.lastRow(), surface.height - 1);
    if (top > bottom)
        return 0;
    std::int64_t written = 0;
    const std::int64_t lastColumn = surface.width - 1;
    std::uint32_t* row = surface.row(static_cast<int>(top));
    stroke.forEachRun(top, bottom, [&](std::int64_t, RowRun run) {
        if (run.left == run.right) {
            // One pixel: most rows of a thin stroke.
            if (static_cast<std::uint64_t>(run.left) < static_cast<std::uint64_t>(surface.width)) {
                row[run.left] = pixel;
                ++written;
            }
        } else {
            const std::int64_t left = std::max<std::int64_t>(run.left, 0);
            const std::int64_t right = std::min(run.right, lastColumn);
            if (left <= right) {
                fillPixels(row + left, right - left + 1, pixel);
                written += right - left + 1;
            }
        }
        row += surface.stride;
    });
    return written;
}

PixelCanvas::PixelCanvas(const PixelSurface& surface, int penWidth)
    : surface_(surface), penWidth_(std::clamp(penWidth, 1, widestPen)) {}

void PixelCanvas::stroke(Point from, Point to, std::uint32_t pixel) {
    const std::int64_t written = drawStroke(surface_, StrokeRows(from, to, penWidth_), pixel);
    pixelsWritten_ += static_cast<std::uint64_t>(written);
}

void PixelCanvas::line(Point from, Point to, Colour colour) {
    stroke(from, to, pixelFromColour(colour, surface_.format));
}

void PixelCanvas::box(Point corner, Point oppositeCorner, Colour colour) {
    const std::uint32_t pixel = pixelFromColour(colour, surface_.format);
    const BoxOutline outline = boxOutline(corner, oppositeCorner);
    for (int side = 0; side < outline.count; ++side)
        stroke(outline.sides[side].from, outline.sides[side].to, pixel);
}

} // namespace zorblinth
