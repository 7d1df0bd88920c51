#include "saver/raster/stroke_rows.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace zorblinth {

namespace {

// Quotients rounded down and up for any sign of the dividend; the divisor is positive.
std::int64_t floorDivide(std::int64_t dividend, std::int64_t divisor) {
    const std::int64_t quotient = dividend / divisor;
    return dividend % divisor != 0 && dividend < 0 ? quotient - 1 : quotient;
}

std::int64_t ceilDivide(std::int64_t dividend, std::int64_t divisor) {
    const std::int64_t quotient = dividend / divisor;
    return dividend % divisor != 0 && dividend > 0 ? quotient + 1 : quotient;
}

std::int64_t signOf(std::int64_t value) {
    return value < 0 ? -1 : 1;
}

std::int64_t smallSquareRootFloor(std::int64_t value) {
    auto root = static_cast<std::int64_t>(std::sqrt(static_cast<double>(value)));
    while (root * root > value)
        --root;
    while ((root + 1) * (root + 1) <= value)
        ++root;
    return root;
}

// Beyond any row or column a 32-bit stroke reaches, even in doubled coordinates.
constexpr std::int64_t unbounded = std::int64_t{1} << 60;

RowRun hull(RowRun a, RowRun b) {
    if (a.empty())
        return b;
    if (b.empty())
        return a;
    return {std::min(a.left, b.left), std::max(a.right, b.right)};
}

} // namespace

BoxOutline boxOutline(Point corner, Point oppositeCorner) {
    if (corner == oppositeCorner) {
        const std::int32_t next =
            corner.x < std::numeric_limits<std::int32_t>::max() ? corner.x + 1 : corner.x - 1;
        return {{{corner, {next, corner.y}}}, 1};
    }
    const Point turns[] = {
        corner, {oppositeCorner.x, corner.y}, oppositeCorner, {corner.x, oppositeCorner.y}, corner};
    BoxOutline outline{{}, 4};
    for (int side = 0; side < 4; ++side)
        outline.sides[side] = {turns[side], turns[side + 1]};
    return outline;
}

FloorLine::FloorLine(Int128 a, std::int64_t b, std::int64_t c) : a_(a), b_(b), c_(c) {
    smallTerms_ = a.fitsIn64Bits() && a.low64() < smallStart && a.low64() > -smallStart &&
                  b < smallStep && b > -smallStep;
    a64_ = smallTerms_ ? a.low64() : 0;
    // A steep line's step is less than one: no division for it (a division costs as much as
    // tens of rows' steps, and strokes are set up again in every band they cross).
    if (b >= 0 && b < c)
        stepQuotient_ = 0;
    else if (b < 0 && b >= -c)
        stepQuotient_ = -1;
    else
        stepQuotient_ = floorDivide(b, c);
    stepRest_ = b - stepQuotient_ * c;
}

std::optional<FixedPointLine> FloorLine::fixedPoint(std::int64_t first, std::int64_t last) const {
    constexpr std::int64_t scale = std::int64_t{1} << FixedPointLine::fractionBits;
    constexpr std::int64_t rowLimit = std::int64_t{1} << 30;
    if (first > last || c_ > scale / (last - first + 1) || first <= -rowLimit || last >= rowLimit)
        return std::nullopt;
    // Values (and the step) below 2^29 at both ends, so below it between: scaled, below 2^61.
    const Int128 valueLimit = Int128::product(c_, std::int64_t{1} << 29);
    const auto small = [&](Int128 dividend) {
        return dividend < valueLimit && -dividend < valueLimit;
    };
    const Int128 atFirst = a_ + Int128::product(b_, first);
    if (!small(atFirst) || !small(a_ + Int128::product(b_, last)) || !small(Int128(b_)))
        return std::nullopt;
    // Rounded up: ceil(n / c) = -floor(-n / c).
    std::int64_t rest = 0;
    const std::int64_t step = -floorDivide(-Int128::product(b_, scale), c_, rest);
    const std::int64_t atFirstScaled =
        -floorDivide(-Int128::product(atFirst.low64(), scale), c_, rest);
    // Counted from row 0, where that stays well within 64 bits (rows and steps of a screen do).
    constexpr std::int64_t room = std::int64_t{1} << 62;
    const Int128 fromZero = Int128::product(step, std::max(-first, last));
    const Int128 atZero = Int128(atFirstScaled) - Int128::product(step, first);
    if (!(fromZero < Int128(room) && -fromZero < Int128(room)) ||
        !(atZero < Int128(room) && -atZero < Int128(room)))
        return std::nullopt;
    return FixedPointLine(atZero.low64(), step);
}

ThinStroke::ThinStroke(Point from, Point to) {
    const StrokeRows rows(from, to, 1);
    if (rows.shape_ == StrokeRows::Shape::level) {
        shape_ = Shape::level;
        firstRow_ = lastRow_ = from.y;
        // A run that sets pixels lies between the end points, but a zero-length stroke's empty
        // one lies one past its x, which at the largest x does not fit in 32 bits: any empty run
        // serves.
        const RowRun run = rows.levelRun_.empty() ? RowRun{0, -1} : rows.levelRun_;
        startX_ = static_cast<std::int32_t>(run.left);
        lastStep_ = static_cast<std::int32_t>(run.right);
        return;
    }
    if (rows.lastStep_ > std::numeric_limits<std::int32_t>::max())
        return;
    // A shallow stroke's stepper serves from the row above the first to the row below the last.
    const bool steep = rows.shape_ == StrokeRows::Shape::steep;
    const auto line = steep ? rows.low_.fixedPoint(rows.firstRow_, rows.lastRow_)
                            : rows.low_.fixedPoint(rows.firstRow_ - 1, rows.lastRow_ + 1);
    if (!line)
        return;
    shape_ = steep ? Shape::steep : Shape::shallow;
    line_ = *line;
    firstRow_ = static_cast<std::int32_t>(rows.firstRow_);
    lastRow_ = static_cast<std::int32_t>(rows.lastRow_);
    startX_ = static_cast<std::int32_t>(rows.startX_);
    lastStep_ = static_cast<std::int32_t>(rows.lastStep_);
    signX_ = static_cast<std::int8_t>(rows.signX_);
    signY_ = static_cast<std::int8_t>(rows.signY_);
}

WideMiddle::WideMiddle(const StrokeRows& rows) {
    constexpr std::int64_t rowLimit = std::int64_t{1} << 30;
    if (rows.shape_ != StrokeRows::Shape::wide || rows.middleFirst_ > rows.middleLast_ ||
        rows.middleFirst_ <= -rowLimit || rows.middleLast_ >= rowLimit)
        return;
    const auto low = rows.low_.fixedPoint(rows.middleFirst_, rows.middleLast_);
    const auto high = rows.high_.fixedPoint(rows.middleFirst_, rows.middleLast_);
    if (!low || !high)
        return;
    low_ = *low;
    high_ = *high;
    middleFirst_ = static_cast<std::int32_t>(rows.middleFirst_);
    middleLast_ = static_cast<std::int32_t>(rows.middleLast_);
}

StrokeRows::StrokeRows(Point from, Point to, int penWidth) {
    penWidth = std::clamp(penWidth, 1, widestPen);
    const std::int64_t dx = std::int64_t{to.x} - from.x;
    const std::int64_t dy = std::int64_t{to.y} - from.y;

    if (penWidth == 1) {
        startX_ = from.x;
        signX_ = signOf(dx);
        if (dy == 0) {
            // One row, the end left out; nothing at all for a zero-length line.
            shape_ = Shape::level;
            firstRow_ = lastRow_ = from.y;
            levelRun_ = dx > 0 ? RowRun{from.x, std::int64_t{to.x} - 1}
                               : RowRun{std::int64_t{to.x} + 1, from.x};
            return;
        }
        // Bresenham's step i sets the pixel i along the major axis and
        // ceil((2i*minor + bias - major) / (2*major)) along the minor one; step `major` would
        // be the end point, left out. Where the error term ties, GDI steps the minor axis in
        // some octants and not in others; the bias reproduces that.
        const bool xMajor = std::abs(dx) > std::abs(dy);
        const std::int64_t bias =
            (dx < 0 && dy < 0) || (dx < 0 && dy > 0 && !xMajor) || (dx > 0 && dy < 0 && xMajor) ? 1
                                                                                                : 0;
        const std::int64_t major = xMajor ? std::abs(dx) : std::abs(dy);
        const std::int64_t minor = xMajor ? std::abs(dy) : std::abs(dx);
        const std::int64_t signY = signOf(dy);
        lastStep_ = major - 1;
        if (!xMajor) {
            // One pixel a row, at x offset ceil((2*minor*i + bias - major) / (2*major)) where
            // i = signY * (y - startY).
            shape_ = Shape::steep;
            firstRow_ = std::min<std::int64_t>(from.y, from.y + signY * lastStep_);
            lastRow_ = std::max<std::int64_t>(from.y, from.y + signY * lastStep_);
            low_ = FloorLine(Int128::product(-2 * minor * signY, from.y) + (bias + major - 1),
                             2 * minor * signY, 2 * major);
            return;
        }
        // Row k = signY * (y - startY) holds the steps from
        // first(k) = floor((2*major*k - major - bias) / (2*minor)) + 1 to first(k + 1) - 1.
        shape_ = Shape::shallow;
        // The last row's offset: ceil((2 * lastStep * minor + bias - major) / (2 * major)).
        std::int64_t rest = 0;
        const std::int64_t lastK =
            floorDivide(Int128::product(2 * lastStep_, minor) + (bias - major + 2 * major - 1),
                        2 * major, rest);
        firstRow_ = std::min<std::int64_t>(from.y, from.y + signY * lastK);
        lastRow_ = std::max<std::int64_t>(from.y, from.y + signY * lastK);
        const Int128 firstAtZero = Int128::product(-2 * major * signY, from.y) + (-major - bias);
        // A row's last step is the next row's first less one: one stepper serves both ends.
        low_ = FloorLine(firstAtZero, 2 * major * signY, 2 * minor);
        signY_ = signY;
        return;
    }

    // An even width has no middle pixel. GDI puts the extra one above a level line, left of an
    // upright one, above a slanted line that falls to the right and below one that rises: the
    // segment moves half a pixel that way, a whole one in doubled coordinates.
    std::int64_t shiftX = 0, shiftY = 0;
    if (penWidth % 2 == 0) {
        if (dx == 0 || dy == 0)
            shiftX = shiftY = 1;
        else
            shiftY = (dx > 0) == (dy > 0) ? 1 : -1;
    }
    shape_ = Shape::wide;
    radius_ = penWidth;
    px_ = 2 * std::int64_t{from.x} - shiftX;
    py_ = 2 * std::int64_t{from.y} - shiftY;
    qx_ = 2 * std::int64_t{to.x} - shiftX;
    qy_ = 2 * std::int64_t{to.y} - shiftY;
    dx_ = qx_ - px_;
    dy_ = qy_ - py_;
    // A centre c lies within the radius of the segment's line when |cross(d, c - p)| is at
    // most radius * |d|; cross is an integer, so floor(radius * |d|) is as good a limit.
    crossLimit_ = squareRootFloor(Int128::product(radius_ * dx_, radius_ * dx_) +
                                  Int128::product(radius_ * dy_, radius_ * dy_));
    const std::int64_t top = std::min(py_, qy_);
    const std::int64_t bottom = std::max(py_, qy_);
    firstRow_ = ceilDivide(top - radius_, 2);
    lastRow_ = floorDivide(bottom + radius_, 2);
    // Rows more than the radius from both ends lie wholly in the segment's middle, where the
    // two long edges alone bound the run: 2y in (top + radius, bottom - radius).
    middleFirst_ = floorDivide(top + radius_, 2) + 1;
    middleLast_ = ceilDivide(bottom - radius_, 2) - 1;
    if (middleFirst_ <= middleLast_) {
        // There dy != 0 and, with e = dx * sign(dy) and a = |dy|, the run is the x with
        // |e * (2y - py) - a * (2x - px)| <= crossLimit:
        // ceil((px*a - e*py - limit + 2e*y) / 2a) <= x <= floor((px*a - e*py + limit + 2e*y) / 2a).
        const std::int64_t a = std::abs(dy_);
        const std::int64_t e = dx_ * signOf(dy_);
        const Int128 centre = Int128::product(px_, a) - Int128::product(e, py_);
        low_ = FloorLine(centre - crossLimit_ + (2 * a - 1), 2 * e, 2 * a);
        high_ = FloorLine(centre + crossLimit_, 2 * e, 2 * a);
    }
}

// The run on a row within the radius of an end: the hull of what the two end discs and the
// band between the perpendiculars through the ends hold on that row.
RowRun StrokeRows::wideRunNearEnds(std::int64_t y) const {
    const std::int64_t rowY = 2 * y;
    // Pixel x has doubled coordinate 2x: the x whose doubled coordinates lie in [low, high].
    const auto columns = [](std::int64_t low, std::int64_t high) {
        return RowRun{ceilDivide(low, 2), floorDivide(high, 2)};
    };
    const auto disc = [&](std::int64_t cx, std::int64_t cy) {
        const std::int64_t rise = rowY - cy;
        if (std::abs(rise) > radius_)
            return RowRun{0, -1};
        const std::int64_t half = smallSquareRootFloor(radius_ * radius_ - rise * rise);
        return columns(cx - half, cx + half);
    };
    RowRun run = hull(disc(px_, py_), disc(qx_, qy_));
    if (dx_ == 0 && dy_ == 0)
        return run;

    std::int64_t low = -unbounded, high = unbounded;
    // Within the limit of the line: bounds on u = X - end.x from the end nearer this row,
    // which is within the radius of it, so no product leaves 64 bits.
    if (dy_ != 0) {
        const bool nearP = std::abs(rowY - py_) <= std::abs(rowY - qy_);
        const std::int64_t ex = nearP ? px_ : qx_;
        const std::int64_t ey = nearP ? py_ : qy_;
        const std::int64_t a = std::abs(dy_);
        const std::int64_t along = dx_ * signOf(dy_) * (rowY - ey);
        low = ex + ceilDivide(along - crossLimit_, a);
        high = ex + floorDivide(along + crossLimit_, a);
    } else if (std::abs(dx_ * (rowY - py_)) > crossLimit_) {
        return run;
    }
    // Not before p along the segment: dx * (X - px) + dy * (Y - py) >= 0. A centre within the
    // limit of the line that fails this lies within the radius of p's row, so rows further
    // away need no test (and would need wider products).
    if (std::abs(rowY - py_) <= radius_) {
        const std::int64_t needed = -dy_ * (rowY - py_); // dx * (X - px) >= needed
        if (dx_ > 0)
            low = std::max(low, px_ + ceilDivide(needed, dx_));
        else if (dx_ < 0)
            high = std::min(high, px_ + floorDivide(-needed, -dx_));
        else if (needed > 0)
            return run;
    }
    // Not beyond q: dx * (X - qx) + dy * (Y - qy) <= 0.
    if (std::abs(rowY - qy_) <= radius_) {
        const std::int64_t allowed = -dy_ * (rowY - qy_); // dx * (X - qx) <= allowed
        if (dx_ > 0)
            high = std::min(high, qx_ + floorDivide(allowed, dx_));
        else if (dx_ < 0)
            low = std::max(low, qx_ + ceilDivide(-allowed, -dx_));
        else if (allowed < 0)
            return run;
    }
    if (low <= high)
        run = hull(run, columns(low, high));
    return run;
}

} // namespace zorblinth
