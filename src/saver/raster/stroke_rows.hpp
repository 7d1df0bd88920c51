#pragma once

#include "saver/canvas.hpp"
#include "saver/raster/wide_int.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace zorblinth {

// The widest pen a settings byte can ask for; wider ones are drawn this wide.
inline constexpr int widestPen = 255;

// The pixels of one stroke on one row, left to right inclusive; empty when left > right.
struct RowRun {
    std::int64_t left;
    std::int64_t right;
    bool empty() const { return left > right; }
};

struct Segment {
    Point from;
    Point to;
};

// The strokes a box is drawn with: its four sides, each ending where the next begins so that
// no corner pixel is missing. A box with both corners on one pixel has sides of length zero; a
// one-pixel stroke from there leaves the dot it stands for.
struct BoxOutline {
    Segment sides[4];
    int count;
};
BoxOutline boxOutline(Point corner, Point oppositeCorner);

// floor((a + b * y) / c) over a few thousand rows y, in fixed point: the value at the first row
// and the step, each times 2^32 and rounded up (and counted back to row 0 exactly). Every row
// adds less than 2^-32 of error, all upwards, while a fraction below a whole number lies at least
// 1/c below it; so while c times the rows spanned stays within 2^32 the floor is exact, and any
// row's value is one multiplication and one shift away.
class FixedPointLine {
public:
    static constexpr int fractionBits = 32;

    FixedPointLine() = default;
    FixedPointLine(std::int64_t atZero, std::int64_t step) : atZero_(atZero), step_(step) {}

    // The scaled value at row y, to step on with step() and read with wholePart().
    std::int64_t scaledAt(std::int64_t y) const { return atZero_ + step_ * y; }
    std::int64_t step() const { return step_; }
    static std::int64_t wholePart(std::int64_t scaled) { return scaled >> fractionBits; }

private:
    std::int64_t atZero_ = 0, step_ = 0;
};

// A FixedPointLine walked row by row from row y, as a FloorLine is.
class FixedPointStepper {
public:
    FixedPointStepper(const FixedPointLine& line, std::int64_t y)
        : scaled_(line.scaledAt(y)), step_(line.step()) {}
    std::int64_t value() const { return FixedPointLine::wholePart(scaled_); }
    void next() { scaled_ += step_; }

private:
    std::int64_t scaled_, step_;
};

// floor((a + b * y) / c) for successive rows y, with c > 0: one division where it starts, then
// only additions from row to row, so the bounds stay exact without a division per row.
class FloorLine {
public:
    FloorLine() = default;
    FloorLine(Int128 a, std::int64_t b, std::int64_t c);

    void seek(std::int64_t y) {
        // On a screen's coordinates everything fits in 64 bits with room to spare (|a| < 2^62,
        // |b * y| < 2^61): then one division of the processor's own; 128 bits only for far ends.
        if (smallTerms_ && y < smallRow && y > -smallRow) {
            const std::int64_t dividend = a64_ + b_ * y;
            quotient_ = dividend / c_;
            belowCarry_ = dividend % c_;
            if (belowCarry_ < 0) {
                belowCarry_ += c_;
                --quotient_;
            }
        } else {
            quotient_ = floorDivide(a_ + Int128::product(b_, y), c_, belowCarry_);
        }
        belowCarry_ -= c_;
    }
    std::int64_t value() const { return quotient_; }
    void next() {
        // The remainder is kept less c, so that whether it carries is its sign: one addition
        // and one conditional move a row, without a branch (a carry is as good as random).
        belowCarry_ += stepRest_;
        const bool carry = belowCarry_ >= 0;
        const std::int64_t wrapped = belowCarry_ - c_;
        belowCarry_ = carry ? wrapped : belowCarry_;
        quotient_ += stepQuotient_ + (carry ? 1 : 0);
    }

    // The same over rows first to last in fixed point, where that stays exact.
    std::optional<FixedPointLine> fixedPoint(std::int64_t first, std::int64_t last) const;

    // Bounds of the 64-bit way of seek(): rows and steps below 2^31 and 2^30, starts below 2^62.
    static constexpr std::int64_t smallRow = std::int64_t{1} << 31;
    static constexpr std::int64_t smallStep = std::int64_t{1} << 30;
    static constexpr std::int64_t smallStart = std::int64_t{1} << 62;

private:
    Int128 a_;
    std::int64_t a64_ = 0;
    bool smallTerms_ = true;
    std::int64_t b_ = 0, c_ = 1, stepQuotient_ = 0, stepRest_ = 0;
    std::int64_t quotient_ = 0, belowCarry_ = 0;
};

// The pixels one stroke sets, row by row from top to bottom, each row one run (the shapes are
// convex along rows). Both pens go through here, so every way of drawing a stroke (in order,
// newest first, a band at a time) sets the same pixels.
//
// Width 1 is a cosmetic GDI pen's line between MoveToEx and LineTo: Bresenham's line with
// GDI's tie-breaking, the end point left out. Wider pens set the pixels whose centres lie within
// half the width of the segment (round ends); even widths sit half a pixel off the line, on the
// side where GDI puts their extra pixel. Every edge pixel is decided in exact integer arithmetic
// (in doubled coordinates, where that half pixel is whole), so a stroke's pixels move with it
// when it is shifted and never depend on where it is clipped. End points may be any 32-bit
// values.
class StrokeRows {
public:
    StrokeRows(Point from, Point to, int penWidth);

    // The rows the stroke may set, inclusive; none when firstRow() > lastRow().
    std::int64_t firstRow() const { return firstRow_; }
    friend class ThinStroke;
    friend class WideMiddle;
    std::int64_t lastRow() const { return lastRow_; }

    // Calls visit(y, run) for each row y from `first` to `last`, both within [firstRow(),
    // lastRow()], with the stroke's run on that row (empty on some of a wide stroke's first and
    // last rows). One division or two where it starts, then additions from row to row.
    // The visitor is taken by value, so that what it holds can live in registers.
    template <class Visit>
    void forEachRun(std::int64_t first, std::int64_t last, Visit visit) const;

private:
    enum class Shape { level, steep, shallow, wide };

    RowRun wideRunNearEnds(std::int64_t y) const;

    Shape shape_;
    std::int64_t firstRow_ = 0, lastRow_ = -1;

    // Thin strokes: the start, the direction along x, the run on a level line, and the last
    // step along the major axis.
    std::int64_t startX_ = 0, signX_ = 1, signY_ = 1;
    RowRun levelRun_{0, -1};
    std::int64_t lastStep_ = 0;
    // steep: the x offset from the start; shallow: the first step on the row, less one;
    // wide: the two long edges.
    FloorLine low_, high_;

    // A thin stroke's rows, one pixel a row (steep) or one run (shallow), from a stepper that
    // stands at the first row (steep), or where shallowRuns says: a FloorLine or a
    // FixedPointStepper.
    template <class Stepper, class Visit>
    static void steepRuns(std::int64_t first, std::int64_t last, Stepper stepper,
                          std::int64_t startX, std::int64_t signX, Visit& visit);
    template <class Stepper, class Visit>
    static void shallowRuns(std::int64_t first, std::int64_t last, Stepper stepper,
                            std::int64_t lastStep, std::int64_t startX, std::int64_t signX,
                            Visit& visit);

    // Wide strokes, in doubled coordinates (a pixel's centre is at twice its coordinates): the
    // end points, their difference, the radius (the pen's width) and floor(radius * |d|); the
    // rows between which the run is only bounded by the two long edges.
    std::int64_t px_ = 0, py_ = 0, qx_ = 0, qy_ = 0, dx_ = 0, dy_ = 0, radius_ = 0;
    std::int64_t crossLimit_ = 0;
    std::int64_t middleFirst_ = 0, middleLast_ = -1;
};

// Sources of a stroke's runs row after row for drawing loops of their own: next() gives the
// next row's run. Plain values, which such a loop keeps in registers: through a visitor held by
// reference, stores of pixels and coverage words may alias what it steps, and the compiler reads
// it again after every store.
template <bool rightward> struct SteepRuns { // a thin steep stroke's: a pixel a row
    static constexpr bool onePixel = true;
    std::int64_t scaled, step, startX;
    RowRun next() {
        const std::int64_t offset = FixedPointLine::wholePart(scaled);
        scaled += step;
        const std::int64_t x = rightward ? startX + offset : startX - offset;
        return {x, x};
    }
};
// A thin shallow stroke's: a row's steps. Which way it goes is part of the type: each row then
// takes a few additions, with no choice to make.
template <bool down, bool rightward> struct ShallowRuns {
    std::int64_t scaled, step, previous, lastStep, startX;
    RowRun next() {
        // Rows above the start (or below it, going up) begin before step 0; the last row ends
        // before the end point.
        const Steps row = nextSteps();
        return run(row.first > 0 ? row.first : 0, row.last < lastStep ? row.last : lastStep);
    }
    // The same on a row other than the stroke's first and last: only those two are cut at its
    // ends, so the rows between need no cutting.
    RowRun nextBetweenEnds() {
        const Steps row = nextSteps();
        return run(row.first, row.last);
    }
    // The whole steps a row, q: runs between the ends are q or q + 1 pixels long. Exact: the
    // step is the stroke's columns a row rounded by less than 2^-32, and a ratio that is not
    // whole lies further than that from the next whole number (by at least 1 / its rows).
    std::int64_t wholeColumnsPerRow() const {
        return FixedPointLine::wholePart(step < 0 ? -step : step);
    }

private:
    struct Steps {
        std::int64_t first, last;
    };
    Steps nextSteps() {
        // As StrokeRows's shallow rows: the stepper rises going down and falls going up, so the
        // row's first step less one is the previous value going down and the current going up.
        scaled += step;
        const std::int64_t current = FixedPointLine::wholePart(scaled);
        const Steps row{(down ? previous : current) + 1, down ? current : previous};
        previous = current;
        return row;
    }
    RowRun run(std::int64_t from, std::int64_t to) const {
        return rightward ? RowRun{startX + from, startX + to} : RowRun{startX - to, startX - from};
    }
};
struct LevelRun { // a thin level stroke's one row
    RowRun run;
    RowRun next() const { return run; }
};
struct MiddleRuns { // a wide stroke's middle rows: between its two long edges
    std::int64_t left, leftStep, right, rightStep;
    RowRun next() {
        const RowRun run{FixedPointLine::wholePart(left), FixedPointLine::wholePart(right)};
        left += leftStep;
        right += rightStep;
        return run;
    }
};

// A thin stroke's rows set up once to be drawn band after band: each band starts it with a
// multiplication instead of setting it up again. The same pixels as StrokeRows at width 1.
class ThinStroke {
public:
    ThinStroke() = default;
    ThinStroke(Point from, Point to);

    // Whether it holds nothing: the stroke's rows are too many, or its ends too far out, for the
    // fixed point (StrokeRows draws those).
    bool empty() const { return shape_ == Shape::none; }

    std::int64_t firstRow() const { return firstRow_; }
    std::int64_t lastRow() const { return lastRow_; }

    // As StrokeRows::forEachRun.
    template <class Visit>
    void forEachRun(std::int64_t first, std::int64_t last, Visit visit) const;

    // Calls use(runs) with a source of the runs from row `first` on (SteepRuns, ShallowRuns or
    // LevelRun), `first` within [firstRow(), lastRow()]; not at all when empty().
    template <class Use> void useRunsFrom(std::int64_t first, Use use) const {
        switch (shape_) {
        case Shape::none:
            return;
        case Shape::level:
            use(LevelRun{{startX_, lastStep_}});
            return;
        case Shape::steep:
            if (signX_ > 0)
                use(SteepRuns<true>{line_.scaledAt(first), line_.step(), startX_});
            else
                use(SteepRuns<false>{line_.scaledAt(first), line_.step(), startX_});
            return;
        case Shape::shallow: {
            // As StrokeRows's shallow rows: the stepper starts a row before the first going up.
            const std::int64_t scaled = line_.scaledAt(signY_ > 0 ? first : first - 1);
            const std::int64_t previous = FixedPointLine::wholePart(scaled);
            const std::int64_t step = line_.step();
            if (signY_ > 0 && signX_ > 0)
                use(ShallowRuns<true, true>{scaled, step, previous, lastStep_, startX_});
            else if (signY_ > 0)
                use(ShallowRuns<true, false>{scaled, step, previous, lastStep_, startX_});
            else if (signX_ > 0)
                use(ShallowRuns<false, true>{scaled, step, previous, lastStep_, startX_});
            else
                use(ShallowRuns<false, false>{scaled, step, previous, lastStep_, startX_});
            return;
        }
        }
    }

    // The leftmost and rightmost columns the stroke sets on rows first to last, within
    // [firstRow(), lastRow()]: its runs only move one way, so the runs of the two outer rows
    // bound all between. Two multiplications, for a look at the coverage before any row is walked.
    RowRun columnsOver(std::int64_t first, std::int64_t last) const {
        RowRun firstRun{0, -1}, lastRun{0, -1};
        useRunsFrom(first, [&](auto runs) { firstRun = runs.next(); });
        useRunsFrom(last, [&](auto runs) { lastRun = runs.next(); });
        if (firstRun.empty())
            return lastRun;
        if (lastRun.empty())
            return firstRun;
        return {std::min(firstRun.left, lastRun.left), std::max(firstRun.right, lastRun.right)};
    }

private:
    enum class Shape : std::int8_t { none, level, steep, shallow };

    FixedPointLine line_;
    std::int32_t firstRow_ = 0, lastRow_ = -1;
    // level: the run; steep and shallow: the start's x and the last step.
    std::int32_t startX_ = 0, lastStep_ = 0;
    Shape shape_ = Shape::none;
    std::int8_t signX_ = 1, signY_ = 1;
};

// A wide stroke's middle rows, those its two long edges alone bound, set up once to be drawn
// band after band in fixed point: each band starts them with a multiplication, and each row
// costs two additions. The same runs as StrokeRows there; its rows near the ends are left to
// StrokeRows.
class WideMiddle {
public:
    WideMiddle() = default;
    explicit WideMiddle(const StrokeRows& rows);

    // Whether the middle rows are held here: not when the stroke has none, nor when they are too
    // many, or their edges too far out, for the fixed point.
    bool empty() const { return middleFirst_ > middleLast_; }
    std::int64_t middleFirst() const { return middleFirst_; }
    std::int64_t middleLast() const { return middleLast_; }

    // The middle rows' runs from row y on, within [middleFirst(), middleLast()].
    MiddleRuns runsFrom(std::int64_t y) const {
        return {low_.scaledAt(y), low_.step(), high_.scaledAt(y), high_.step()};
    }

    // The leftmost and rightmost columns of middle rows first to last: each edge is a straight
    // line, so its ends bound it.
    RowRun columnsOver(std::int64_t first, std::int64_t last) const {
        const RowRun top = runsFrom(first).next(), bottom = runsFrom(last).next();
        return {std::min(top.left, bottom.left), std::max(top.right, bottom.right)};
    }

private:
    FixedPointLine low_, high_;
    std::int32_t middleFirst_ = 0, middleLast_ = -1;
};

template <class Visit>
void ThinStroke::forEachRun(std::int64_t first, std::int64_t last, Visit visit) const {
    const std::int64_t startX = startX_;
    switch (shape_) {
    case Shape::none:
        return;
    case Shape::level:
        visit(first, RowRun{startX_, lastStep_});
        return;
    case Shape::steep:
        if (signX_ > 0)
            StrokeRows::steepRuns(first, last, FixedPointStepper(line_, first), startX, 1, visit);
        else
            StrokeRows::steepRuns(first, last, FixedPointStepper(line_, first), startX, -1, visit);
        return;
    case Shape::shallow: {
        // As StrokeRows's shallow rows: the stepper starts a row before the first going up.
        const FixedPointStepper stepper(line_, signY_ > 0 ? first : first - 1);
        if (signX_ > 0)
            StrokeRows::shallowRuns(first, last, stepper, lastStep_, startX, 1, visit);
        else
            StrokeRows::shallowRuns(first, last, stepper, lastStep_, startX, -1, visit);
        return;
    }
    }
}

template <class Visit>
void StrokeRows::forEachRun(std::int64_t first, std::int64_t last, Visit visit) const {
    // The steppers are copied so that they live in registers: the visitor's stores of pixels
    // and coverage words might otherwise alias them, and force every step through memory.
    FloorLine low = low_, high = high_;
    const std::int64_t startX = startX_;
    switch (shape_) {
    case Shape::level:
        visit(first, levelRun_);
        return;
    case Shape::steep:
        low.seek(first);
        if (signX_ > 0)
            steepRuns(first, last, low, startX, 1, visit);
        else
            steepRuns(first, last, low, startX, -1, visit);
        return;
    case Shape::shallow:
        // Row y's steps end where row y + signY's begin: the stepper starts a row before the
        // first (going up) so that it always holds the rows on both sides of each row.
        low.seek(signY_ > 0 ? first : first - 1);
        if (signX_ > 0)
            shallowRuns(first, last, low, lastStep_, startX, 1, visit);
        else
            shallowRuns(first, last, low, lastStep_, startX, -1, visit);
        return;
    case Shape::wide: {
        // Rows near the ends and middle rows go through one loop with one call of the visitor:
        // called from a single place, it is put inline (measured 8 % faster at pen 3).
        bool stepping = false;
        for (std::int64_t y = first; y <= last; ++y) {
            RowRun run;
            if (y >= middleFirst_ && y <= middleLast_) {
                if (!stepping) {
                    low.seek(y);
                    high.seek(y);
                    stepping = true;
                }
                run = RowRun{low.value(), high.value()};
                low.next();
                high.next();
            } else {
                run = wideRunNearEnds(y);
            }
            visit(y, run);
        }
        return;
    }
    }
}

template <class Stepper, class Visit>
void StrokeRows::steepRuns(std::int64_t first, std::int64_t last, Stepper stepper,
                           std::int64_t startX, std::int64_t signX, Visit& visit) {
    for (std::int64_t y = first; y <= last; ++y, stepper.next()) {
        const std::int64_t x = signX > 0 ? startX + stepper.value() : startX - stepper.value();
        visit(y, RowRun{x, x});
    }
}

template <class Stepper, class Visit>
void StrokeRows::shallowRuns(std::int64_t first, std::int64_t last, Stepper stepper,
                             std::int64_t lastStep, std::int64_t startX, std::int64_t signX,
                             Visit& visit) {
    std::int64_t previous = stepper.value();
    for (std::int64_t y = first; y <= last; ++y) {
        stepper.next();
        const std::int64_t current = stepper.value();
        // The stepper is monotonic, rising going down and falling going up: the smaller of
        // the two is the row's first step less one, the larger its last step.
        const std::int64_t before = previous < current ? previous : current;
        const std::int64_t end = previous < current ? current : previous;
        previous = current;
        // Rows above the start (or below it, going up) begin before step 0; the last row ends
        // before the end point.
        const std::int64_t from = before + 1 > 0 ? before + 1 : 0;
        const std::int64_t to = end < lastStep ? end : lastStep;
        visit(y,
              signX > 0 ? RowRun{startX + from, startX + to} : RowRun{startX - to, startX - from});
    }
}

} // namespace zorblinth
