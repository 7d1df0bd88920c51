#include "saver/pixel_canvas.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace zorblinth {

namespace {

// Products of two 33-bit line extents with a 33-bit step count need more than 64 bits; they
// occur only while setting a line up, never per pixel.
__extension__ typedef __int128 Wide;

// Quotients rounded down and up for any sign of the dividend; the divisor is positive.
Wide floorDivide(Wide dividend, Wide divisor) {
    const Wide quotient = dividend / divisor;
    return dividend % divisor != 0 && dividend < 0 ? quotient - 1 : quotient;
}

Wide ceilDivide(Wide dividend, Wide divisor) {
    const Wide quotient = dividend / divisor;
    return dividend % divisor != 0 && dividend > 0 ? quotient + 1 : quotient;
}

int signOf(std::int64_t value) {
    return value > 0 ? 1 : -1;
}

// Sets count pixels from `at` on: four at a time where there are four, the last four
// overlapping the ones before, so that short runs cost a few stores and no tail loop.
void fillPixels(std::uint32_t* at, std::int64_t count, std::uint32_t pixel) {
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

// Each function below returns how many pixels it wrote.

// Sets the pixels from left to right inclusive on row y, as far as they lie on the surface.
std::int64_t fillRow(const PixelSurface& surface, std::int64_t y, std::int64_t left,
                     std::int64_t right, std::uint32_t pixel) {
    if (y < 0 || y >= surface.height)
        return 0;
    left = std::max<std::int64_t>(left, 0);
    right = std::min<std::int64_t>(right, surface.width - 1);
    if (left > right)
        return 0;
    fillPixels(surface.row(static_cast<int>(y)) + left, right - left + 1, pixel);
    return right - left + 1;
}

std::int64_t fillColumn(const PixelSurface& surface, std::int64_t x, std::int64_t top,
                        std::int64_t bottom, std::uint32_t pixel) {
    if (x < 0 || x >= surface.width)
        return 0;
    top = std::max<std::int64_t>(top, 0);
    bottom = std::min<std::int64_t>(bottom, surface.height - 1);
    for (std::int64_t y = top; y <= bottom; ++y)
        surface.at(static_cast<int>(x), static_cast<int>(y)) = pixel;
    return std::max<std::int64_t>(bottom - top + 1, 0);
}

// A cosmetic pen's line: Bresenham from `from` towards `to`, leaving `to` itself out. Where the
// error term ties, GDI steps the minor axis in some octants and not in others; the bias below
// reproduces that, so the pixels match GDI's exactly.
std::int64_t thinLine(const PixelSurface& surface, Point from, Point to, std::uint32_t pixel) {
    const std::int64_t dx = std::int64_t{to.x} - from.x;
    const std::int64_t dy = std::int64_t{to.y} - from.y;
    if (dy == 0) {
        if (dx > 0)
            return fillRow(surface, from.y, from.x, std::int64_t{to.x} - 1, pixel);
        if (dx < 0)
            return fillRow(surface, from.y, std::int64_t{to.x} + 1, from.x, pixel);
        return 0;
    }
    if (dx == 0) {
        if (dy > 0)
            return fillColumn(surface, from.x, from.y, std::int64_t{to.y} - 1, pixel);
        return fillColumn(surface, from.x, std::int64_t{to.y} + 1, from.y, pixel);
    }

    const bool xMajor = std::abs(dx) > std::abs(dy);
    const int bias =
        (dx < 0 && dy < 0) || (dx < 0 && dy > 0 && !xMajor) || (dx > 0 && dy < 0 && xMajor) ? 1 : 0;
    const std::int64_t major = xMajor ? std::abs(dx) : std::abs(dy);
    const std::int64_t minor = xMajor ? std::abs(dy) : std::abs(dx);
    const int majorSign = signOf(xMajor ? dx : dy);
    const int minorSign = signOf(xMajor ? dy : dx);
    const std::int64_t majorStart = xMajor ? from.x : from.y;
    const std::int64_t minorStart = xMajor ? from.y : from.x;
    const std::int64_t majorSize = xMajor ? surface.width : surface.height;
    const std::int64_t minorSize = xMajor ? surface.height : surface.width;

    // Step i sets the pixel `i` along the major axis and ceil((2i*minor + bias - major) /
    // (2*major)) along the minor one; step `major` would be the end point, left out. Clipping
    // picks the steps on the surface, so the pixels inside are the unclipped line's.
    Wide first = 0;
    Wide last = major - 1;
    if (majorSign > 0) {
        first = std::max<Wide>(first, -majorStart);
        last = std::min<Wide>(last, majorSize - 1 - majorStart);
    } else {
        first = std::max<Wide>(first, majorStart - (majorSize - 1));
        last = std::min<Wide>(last, majorStart);
    }
    const Wide lowOffset = minorSign > 0 ? -minorStart : minorStart - (minorSize - 1);
    const Wide highOffset = minorSign > 0 ? minorSize - 1 - minorStart : minorStart;
    // The minor offset never decreases, so each bound is one inequality solved for i.
    first = std::max(
        first, floorDivide(2 * Wide{major} * (lowOffset - 1) - bias + major, 2 * Wide{minor}) + 1);
    last =
        std::min(last, floorDivide(2 * Wide{major} * highOffset - bias + major, 2 * Wide{minor}));
    if (first > last)
        return 0;

    const Wide minorOffset = ceilDivide(2 * first * minor + bias - major, 2 * Wide{major});
    // Bresenham's error after `first` steps; from here it stays within (-2*major, 2*minor].
    auto error = static_cast<std::int64_t>(2 * Wide{minor} - major + 2 * first * minor -
                                           2 * minorOffset * major);
    const auto majorAt = static_cast<std::int64_t>(majorStart + majorSign * first);
    const auto minorAt = static_cast<std::int64_t>(minorStart + minorSign * minorOffset);
    const std::int64_t x = xMajor ? majorAt : minorAt;
    const std::int64_t y = xMajor ? minorAt : majorAt;

    const std::ptrdiff_t majorStep = xMajor ? majorSign : majorSign * surface.stride;
    const std::ptrdiff_t minorStep = xMajor ? minorSign * surface.stride : minorSign;
    const std::int64_t flatGrowth = 2 * minor;
    const std::int64_t stepGrowth = 2 * (minor - major);
    // An offset, not a pointer: after the last pixel it may point past the surface.
    std::ptrdiff_t offset = y * surface.stride + x;
    const auto pixels = static_cast<std::int64_t>(last - first + 1);
    for (std::int64_t count = pixels; count > 0; --count) {
        surface.pixels[offset] = pixel;
        if (error + bias > 0) {
            offset += minorStep;
            error += stepGrowth;
        } else {
            error += flatGrowth;
        }
        offset += majorStep;
    }
    return pixels;
}

// Pixels whose centres lie within `radius` of the segment from (x1, y1) to (x2, y2), row by row.
// The shape is convex, so each row holds one run: the hull of what the two end discs and the
// band along the segment hold on that row.
class RoundEndedBand {
public:
    RoundEndedBand(double x1, double y1, double x2, double y2, double radius)
        : x1_(x1), y1_(y1), x2_(x2), y2_(y2), dx_(x2 - x1), dy_(y2 - y1), radius_(radius),
          lengthSquared_(dx_ * dx_ + dy_ * dy_) {
        const double length = std::sqrt(lengthSquared_);
        if (dy_ != 0) {
            centreSlope_ = dx_ / dy_;
            halfRun_ = radius * length / std::abs(dy_);
        }
        if (dx_ != 0)
            projectionSlope_ = dy_ / dx_;
    }

    double top() const { return std::min(y1_, y2_) - radius_; }
    double bottom() const { return std::max(y1_, y2_) + radius_; }

    // Rows this far from both ends lie wholly in the band's middle, where the run is only
    // bounded by the band's two long edges (the end discs and caps reach no further).
    double middleTop() const { return std::min(y1_, y2_) + radius_; }
    double middleBottom() const { return std::max(y1_, y2_) - radius_; }

    // On a middle row y the run starts halfRun() left of x1 + (y - y1) * centreSlope().
    double centreSlope() const { return centreSlope_; }
    double halfRun() const { return halfRun_; }

    // The run on any row; left > right when the row holds none.
    void run(double y, double& left, double& right) const {
        left = std::numeric_limits<double>::infinity();
        right = -left;
        const auto include = [&](double from, double to) {
            if (from <= to) {
                left = std::min(left, from);
                right = std::max(right, to);
            }
        };
        for (const auto& [x, yEnd] : {std::pair{x1_, y1_}, std::pair{x2_, y2_}}) {
            const double rise = y - yEnd;
            if (std::abs(rise) <= radius_) {
                const double half = std::sqrt(radius_ * radius_ - rise * rise);
                include(x - half, x + half);
            }
        }
        if (lengthSquared_ == 0)
            return;
        const double rise = y - y1_;
        double from = -std::numeric_limits<double>::infinity();
        double to = -from;
        // Within the radius of the segment's line...
        if (dy_ != 0) {
            const double centre = x1_ + rise * centreSlope_;
            from = centre - halfRun_;
            to = centre + halfRun_;
        } else if (std::abs(rise) > radius_) {
            return;
        }
        // ...and between the perpendiculars through its ends.
        if (dx_ != 0) {
            const double atStart = x1_ - rise * projectionSlope_;
            const double atEnd = atStart + lengthSquared_ / dx_;
            from = std::max(from, std::min(atStart, atEnd));
            to = std::min(to, std::max(atStart, atEnd));
        } else if (rise * dy_ < 0 || rise * dy_ > lengthSquared_) {
            return;
        }
        include(from, to);
    }

private:
    double x1_, y1_, x2_, y2_, dx_, dy_, radius_, lengthSquared_;
    double centreSlope_ = 0;
    double halfRun_ = 0;
    double projectionSlope_ = 0;
};

// Sets the pixels whose centres lie between left and right on row y, as far as they lie on the
// surface.
std::int64_t fillRun(const PixelSurface& surface, int y, double left, double right,
                     std::uint32_t pixel) {
    left = std::max(left, 0.0);
    right = std::min(right, surface.width - 1.0);
    if (!(left <= right))
        return 0;
    // Both are in [0, width - 1] now: truncation is the floor.
    auto first = static_cast<int>(left);
    first += static_cast<double>(first) < left ? 1 : 0;
    const auto last = static_cast<int>(right);
    if (first > last)
        return 0;
    fillPixels(surface.row(y) + first, last - first + 1, pixel);
    return last - first + 1;
}

// Row numbers rounded up and down, kept where they cannot overflow: rows beyond the surface
// are clipped anyway.
int rowAtOrAfter(double y) {
    return static_cast<int>(std::clamp(std::ceil(y), -2.0, 1.0 * (1 << 30)));
}

int rowAtOrBefore(double y) {
    return static_cast<int>(std::clamp(std::floor(y), -2.0, 1.0 * (1 << 30)));
}

std::int64_t wideLine(const PixelSurface& surface, Point from, Point to, int penWidth,
                      std::uint32_t pixel) {
    // An even width has no middle pixel. GDI puts the extra one above a level line, left of an
    // upright one, above a slanted line that falls to the right and below one that rises.
    double shiftX = 0.0;
    double shiftY = 0.0;
    if (penWidth % 2 == 0) {
        const std::int64_t dx = std::int64_t{to.x} - from.x;
        const std::int64_t dy = std::int64_t{to.y} - from.y;
        if (dx == 0 || dy == 0) {
            shiftX = 0.5;
            shiftY = 0.5;
        } else {
            shiftY = (dx > 0) == (dy > 0) ? 0.5 : -0.5;
        }
    }
    const RoundEndedBand band(from.x - shiftX, from.y - shiftY, to.x - shiftX, to.y - shiftY,
                              penWidth / 2.0);

    const int top = std::max(rowAtOrAfter(band.top()), 0);
    const int bottom = std::min(rowAtOrBefore(band.bottom()), surface.height - 1);
    // Rows strictly inside (middleTop, middleBottom) take the cheap run.
    const int middleFirst = std::max(rowAtOrBefore(band.middleTop()) + 1, top);
    const int middleLast = std::min(rowAtOrAfter(band.middleBottom()) - 1, bottom);

    std::int64_t written = 0;
    double left = 0;
    double right = 0;
    int y = top;
    for (; y <= bottom && y < middleFirst; ++y) {
        band.run(y, left, right);
        written += fillRun(surface, y, left, right, pixel);
    }
    if (y <= middleLast) {
        // The bulk of a long line, one run a row between the band's two long edges, in fixed
        // point with 24 fraction bits: exact integer steps from row to row, and no overflow for
        // any 32-bit end points (2^33 * 2^24 at most).
        constexpr int fractionBits = 24;
        constexpr double one = 1 << fractionBits;
        const auto fixed = [](double value) { return std::llround(value * one); };
        const std::int64_t slope = fixed(band.centreSlope());
        const std::int64_t runLength = fixed(2 * band.halfRun());
        // Anchored at the integer end point, so the same line gives the same pixels wherever
        // the surface clips it.
        std::int64_t start = std::int64_t{from.x} * (1 << fractionBits) +
                             fixed(shiftY * band.centreSlope() - shiftX - band.halfRun()) +
                             (std::int64_t{y} - from.y) * slope;
        const std::int64_t lastColumn = surface.width - 1;
        std::uint32_t* row = surface.row(y);
        for (; y <= middleLast; ++y, row += surface.stride, start += slope) {
            // The pixels whose centres lie in [start, start + runLength].
            const std::int64_t first =
                std::max<std::int64_t>((start + (1 << fractionBits) - 1) >> fractionBits, 0);
            const std::int64_t last =
                std::min<std::int64_t>((start + runLength) >> fractionBits, lastColumn);
            if (first <= last) {
                fillPixels(row + first, last - first + 1, pixel);
                written += last - first + 1;
            }
        }
    }
    for (; y <= bottom; ++y) {
        band.run(y, left, right);
        written += fillRun(surface, y, left, right, pixel);
    }
    return written;
}

} // namespace

PixelCanvas::PixelCanvas(const PixelSurface& surface, int penWidth)
    : surface_(surface), penWidth_(std::max(penWidth, 1)) {}

void PixelCanvas::stroke(Point from, Point to, std::uint32_t pixel) {
    const std::int64_t written = penWidth_ == 1 ? thinLine(surface_, from, to, pixel)
                                                : wideLine(surface_, from, to, penWidth_, pixel);
    pixelsWritten_ += static_cast<std::uint64_t>(written);
}

void PixelCanvas::line(Point from, Point to, Colour colour) {
    stroke(from, to, pixelFromColour(colour, surface_.format));
}

void PixelCanvas::box(Point corner, Point oppositeCorner, Colour colour) {
    const std::uint32_t pixel = pixelFromColour(colour, surface_.format);
    if (corner == oppositeCorner) {
        // Every side has length zero; a one-pixel stroke leaves the dot the box stands for.
        const std::int32_t next =
            corner.x < std::numeric_limits<std::int32_t>::max() ? corner.x + 1 : corner.x - 1;
        stroke(corner, {next, corner.y}, pixel);
        return;
    }
    // Each side ends where the next begins, so no corner pixel is missing.
    const Point turns[] = {
        corner, {oppositeCorner.x, corner.y}, oppositeCorner, {corner.x, oppositeCorner.y}, corner};
    for (int side = 0; side < 4; ++side)
        stroke(turns[side], turns[side + 1], pixel);
}

} // namespace zorblinth
