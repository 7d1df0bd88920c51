#include "saver/pixel_canvas.hpp"

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
    stroke.forEachRun(top, bottom, [&](std::int64_t y, RowRun run) {
        const std::int64_t left = std::max<std::int64_t>(run.left, 0);
        const std::int64_t right = std::min(run.right, lastColumn);
        if (left <= right) {
            fillPixels(surface.row(static_cast<int>(y)) + left, right - left + 1, pixel);
            written += right - left + 1;
        }
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
