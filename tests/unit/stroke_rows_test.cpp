#include "saver/raster/pixel_canvas.hpp"
#include "saver/raster/stroke_rows.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

using namespace zorblinth;

namespace {

using Pixels = std::set<std::pair<int, int>>;

// The pixels of a cosmetic GDI pen's line, one Bresenham step at a time, unclipped.
Pixels bresenham(Point from, Point to) {
    Pixels pixels;
    const std::int64_t dx = to.x - from.x, dy = to.y - from.y;
    const bool xMajor = std::abs(dx) > std::abs(dy);
    const std::int64_t major = xMajor ? std::abs(dx) : std::abs(dy);
    const std::int64_t minor = xMajor ? std::abs(dy) : std::abs(dx);
    // GDI steps the minor axis on a tie only in these directions.
    const bool stepOnTie =
        (dx < 0 && dy < 0) || (dx < 0 && dy > 0 && !xMajor) || (dx > 0 && dy < 0 && xMajor);
    const int sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    std::int64_t error = 2 * minor - major; // relative to the midpoint
    int x = from.x, y = from.y;
    for (std::int64_t i = 0; i < major; ++i) {
        pixels.insert({x, y});
        if (error > 0 || (error == 0 && stepOnTie)) {
            (xMajor ? y : x) += xMajor ? sy : sx;
            error -= 2 * major;
        }
        (xMajor ? x : y) += xMajor ? sx : sy;
        error += 2 * minor;
    }
    return pixels;
}

// Whether the centre of pixel (x, y) lies within width / 2 of the segment, decided from the
// definition in doubled coordinates (where centres and even widths' half-pixel shift are whole)
// with exact integers. Even widths move the segment half a pixel up and left when it is level,
// upright or a point, up when it falls to the right and down when it rises. Exact for any 32-bit
// end points and pixels near them, those beyond 32 bits too.
bool coveredByWidePen(Point from, Point to, int width, std::int64_t x, std::int64_t y) {
    const std::int64_t dx = std::int64_t{to.x} - from.x, dy = std::int64_t{to.y} - from.y;
    std::int64_t shiftX = 0, shiftY = 0;
    if (width % 2 == 0) {
        if (dx == 0 || dy == 0)
            shiftX = shiftY = -1;
        else
            shiftY = (dx > 0) == (dy > 0) ? -1 : 1;
    }
    const std::int64_t px = 2 * std::int64_t{from.x} + shiftX,
                       py = 2 * std::int64_t{from.y} + shiftY;
    const std::int64_t qx = 2 * std::int64_t{to.x} + shiftX, qy = 2 * std::int64_t{to.y} + shiftY;
    const std::int64_t cx = 2 * x, cy = 2 * y, r2 = std::int64_t{width} * width;
    const std::int64_t ddx = qx - px, ddy = qy - py;
    const std::int64_t along = (cx - px) * ddx + (cy - py) * ddy;
    const std::int64_t length2 = ddx * ddx + ddy * ddy;
    if (length2 == 0 || along <= 0)
        return (cx - px) * (cx - px) + (cy - py) * (cy - py) <= r2;
    if (along >= length2)
        return (cx - qx) * (cx - qx) + (cy - qy) * (cy - qy) <= r2;
    const std::int64_t cross = ddx * (cy - py) - ddy * (cx - px);
    return cross * cross <= r2 * length2;
}

Pixels reference(Point from, Point to, int width, int surfaceWidth, int surfaceHeight) {
    if (width == 1) {
        Pixels inside;
        for (auto pixel : bresenham(from, to))
            if (pixel.first >= 0 && pixel.second >= 0 && pixel.first < surfaceWidth &&
                pixel.second < surfaceHeight)
                inside.insert(pixel);
        return inside;
    }
    Pixels pixels;
    for (int y = 0; y < surfaceHeight; ++y)
        for (int x = 0; x < surfaceWidth; ++x)
            if (coveredByWidePen(from, to, width, x, y))
                pixels.insert({x, y});
    return pixels;
}

Pixels drawn(Point from, Point to, int width, int surfaceWidth, int surfaceHeight) {
    std::vector<std::uint32_t> buffer(static_cast<std::size_t>(surfaceWidth) * surfaceHeight, 0);
    PixelCanvas({buffer.data(), surfaceWidth, surfaceHeight, surfaceWidth}, width)
        .line(from, to, 0xFFFFFF);
    Pixels pixels;
    for (int y = 0; y < surfaceHeight; ++y)
        for (int x = 0; x < surfaceWidth; ++x)
            if (buffer[static_cast<std::size_t>(y) * surfaceWidth + x] != 0)
                pixels.insert({x, y});
    return pixels;
}

using Runs = std::vector<std::pair<std::int64_t, std::int64_t>>;

// The runs of rows `first` to `last`, an empty one as (1, 0).
Runs runsOf(StrokeRows stroke, std::int64_t first, std::int64_t last, std::int64_t shiftX = 0) {
    Runs runs;
    stroke.forEachRun(first, last, [&](std::int64_t, RowRun run) {
        runs.push_back(run.empty() ? std::pair<std::int64_t, std::int64_t>{1, 0}
                                   : std::pair{run.left + shiftX, run.right + shiftX});
    });
    return runs;
}

void expectDefinition(Point from, Point to, int width, int surfaceWidth = 48,
                      int surfaceHeight = 40) {
    ASSERT_EQ(drawn(from, to, width, surfaceWidth, surfaceHeight),
              reference(from, to, width, surfaceWidth, surfaceHeight))
        << "width " << width << ", " << from.x << "," << from.y << " - " << to.x << "," << to.y;
}

} // namespace

TEST(StrokeRows, RandomStrokesSetExactlyTheDefinedPixelsAtEveryWidth) {
    // End points often off the surface, and lines of every direction and length, zero
    // included.
    for (unsigned seed = 1; seed <= 3; ++seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> x(-15, 62), y(-15, 54), shortStep(-3, 3);
        for (int width = 1; width <= 10; ++width)
            for (int i = 0; i < 150; ++i) {
                const Point from{x(random), y(random)};
                const Point to = i % 3 == 0
                                     ? Point{from.x + shortStep(random), from.y + shortStep(random)}
                                     : Point{x(random), y(random)};
                expectDefinition(from, to, width);
            }
    }
}

TEST(StrokeRows, CentresExactlyOnThePensEdgeAreSetInEveryDirection) {
    // Pythagorean directions put many centres exactly at half the width from the segment (and
    // from its ends), where a rounding error would gain or lose a pixel.
    const std::pair<int, int> directions[] = {{3, 4},   {5, 12}, {8, 15}, {7, 24},
                                              {20, 21}, {1, 0},  {1, 1},  {2, 1}};
    for (int width = 1; width <= 10; ++width)
        for (auto [a, b] : directions)
            for (int swap = 0; swap < 2; ++swap)
                for (int sx : {-1, 1})
                    for (int sy : {-1, 1})
                        for (int scale : {1, 2}) {
                            const int dx = sx * scale * (swap ? b : a);
                            const int dy = sy * scale * (swap ? a : b);
                            const Point from{30 - dx / 2, 28 - dy / 2};
                            expectDefinition(from, {from.x + dx, from.y + dy}, width, 60, 56);
                        }
}

TEST(StrokeRows, StrokesMoveWithTheirEndPointsPixelForPixel) {
    // A shifted stroke sets the shifted pixels, whatever the shift's parity: the edges are
    // decided exactly, not by rounding where the stroke happens to lie.
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> coordinate(-10, 40), shift(-1000, 1000);
        for (int width = 1; width <= 10; ++width) {
            const Point a{coordinate(random), coordinate(random)};
            const Point b{coordinate(random), coordinate(random)};
            const int sx = shift(random), sy = shift(random);
            const StrokeRows here(a, b, width),
                there({a.x + sx, a.y + sy}, {b.x + sx, b.y + sy}, width);
            ASSERT_EQ(here.firstRow() + sy, there.firstRow());
            ASSERT_EQ(here.lastRow() + sy, there.lastRow());
            if (here.firstRow() <= here.lastRow()) {
                ASSERT_EQ(runsOf(here, here.firstRow(), here.lastRow(), sx),
                          runsOf(there, there.firstRow(), there.lastRow()))
                    << "seed " << seed << ", width " << width;
            }
        }
    }
}

TEST(StrokeRows, StartingAtAnyRowGivesTheRunsOfWalkingThere) {
    // Band by band drawing starts strokes in their middle.
    std::mt19937 random(5);
    std::uniform_int_distribution<int> coordinate(-30, 300);
    for (int width : {1, 2, 5, 10})
        for (int i = 0; i < 100; ++i) {
            const StrokeRows stroke({coordinate(random), coordinate(random)},
                                    {coordinate(random), coordinate(random)}, width);
            if (stroke.firstRow() > stroke.lastRow())
                continue;
            const Runs walked = runsOf(stroke, stroke.firstRow(), stroke.lastRow());
            for (auto y = stroke.firstRow(); y <= stroke.lastRow(); ++y) {
                const auto row = static_cast<std::size_t>(y - stroke.firstRow());
                ASSERT_EQ(runsOf(stroke, y, stroke.lastRow()),
                          Runs(walked.begin() + static_cast<std::ptrdiff_t>(row), walked.end()));
            }
        }
}

TEST(StrokeRows, FarEndPointsGiveTheSamePixelsAsNearOnesOnTheSameLine) {
    // Continued a hundred million steps beyond the surface, the same line must set the same
    // pixels on it: the wide arithmetic that keeps such strokes from overflowing must not change
    // the answer.
    const Point from{5, 7};
    for (int width : {1, 3, 8}) {
        const Pixels near = drawn(from, {from.x + 40 * 3, from.y + 40 * 2}, width, 64, 48);
        const Pixels far =
            drawn(from, {from.x + 100000000 * 3, from.y + 100000000 * 2}, width, 64, 48);
        EXPECT_EQ(near, far) << width;
        EXPECT_GT(near.size(), 40u);
    }
}

TEST(Int128, ProductsSumsAndFloorDivisionBeyondSixtyFourBits) {
    constexpr std::int64_t big = std::int64_t{1} << 40;
    const Int128 product = Int128::product(big * 3, -big); // -3 * 2^80
    EXPECT_TRUE(product < Int128(0));
    EXPECT_FALSE(product.fitsIn64Bits());
    std::int64_t rest = 0;
    EXPECT_EQ(floorDivide(product, big / 8, rest), -24 * big); // 3 * 2^80 / 2^37
    EXPECT_EQ(rest, 0);
    EXPECT_EQ(floorDivide(product + 1, big, rest), -3 * big);
    EXPECT_EQ(rest, 1);
    EXPECT_EQ(floorDivide(product - 1, big, rest), -3 * big - 1);
    EXPECT_EQ(rest, big - 1);
    EXPECT_EQ(floorDivide(Int128(-7), 2, rest), -4);
    EXPECT_EQ(rest, 1);
    EXPECT_EQ(squareRootFloor(Int128::product(big * 5, big * 5)), big * 5);
    EXPECT_EQ(squareRootFloor(Int128::product(big * 5, big * 5) - 1), big * 5 - 1);
    EXPECT_EQ(squareRootFloor(Int128(0)), 0);
}

TEST(FloorLine, SeekingAgreesWithExactDivisionOnBothSidesOfTheSixtyFourBitWay) {
    // seek() divides in 64 bits when its terms are small and in 128 otherwise: both must give
    // floor((a + b * y) / c), and stepping on from there must agree with seeking the next row.
    const std::int64_t row = FloorLine::smallRow, step = FloorLine::smallStep;
    const std::int64_t start = FloorLine::smallStart;
    const std::int64_t starts[] = {0,
                                   -7,
                                   start - 1,
                                   -start + 1,
                                   start,
                                   -start,
                                   start + start / 2,
                                   std::numeric_limits<std::int64_t>::max() - 8,
                                   std::numeric_limits<std::int64_t>::min() + 8};
    const std::int64_t steps[] = {1, -3, step - 1, -step + 1, step, -step, step * 2};
    const std::int64_t rows[] = {0, 5, -5, row - 1, -row + 1, row, -row, row * 2};
    const std::int64_t divisors[] = {3, 7, 2 * step - 2, std::int64_t{1} << 40};
    for (const std::int64_t a : starts)
        for (const std::int64_t b : steps)
            for (const std::int64_t y : rows)
                for (const std::int64_t c : divisors) {
                    FloorLine line(Int128(a), b, c);
                    std::int64_t rest = 0;
                    line.seek(y);
                    ASSERT_EQ(line.value(), floorDivide(Int128(a) + Int128::product(b, y), c, rest))
                        << a << " + " << b << " * " << y << " / " << c;
                    line.next();
                    ASSERT_EQ(line.value(),
                              floorDivide(Int128(a) + Int128::product(b, y + 1), c, rest))
                        << a << " + " << b << " * " << (y + 1) << " / " << c;
                }
}

namespace {
std::pair<std::int64_t, std::int64_t> asPair(RowRun run) {
    return run.empty() ? std::pair<std::int64_t, std::int64_t>{1, 0}
                       : std::pair{run.left, run.right};
}

// The columns a stretch of a stroke's rows reaches (a thin stroke's, or a wide one's middle),
// as the drawing looks them up before walking them: exactly from the leftmost to the rightmost
// pixel of the stretch's runs (runs holds the stroke's rows from `first`), or none where they
// set no pixel.
template <class Stroke>
void expectColumnsOverStretches(const Stroke& stroke, std::int64_t first, const Runs& runs) {
    const auto stretch = [&](std::size_t from, std::size_t count) {
        std::pair<std::int64_t, std::int64_t> bounds{1, 0};
        for (std::size_t i = from; i < from + count; ++i) {
            const auto [left, right] = runs[i];
            if (left > right)
                continue;
            bounds = bounds.first > bounds.second
                         ? runs[i]
                         : std::pair{std::min(bounds.first, left), std::max(bounds.second, right)};
        }
        const auto firstRow = first + static_cast<std::int64_t>(from);
        EXPECT_EQ(
            asPair(stroke.columnsOver(firstRow, firstRow + static_cast<std::int64_t>(count) - 1)),
            bounds)
            << "rows " << firstRow << " and " << count - 1 << " more";
    };
    for (std::size_t from = 0; from < runs.size(); from += 16)
        for (const std::size_t count : {std::size_t{1}, std::size_t{7}, std::size_t{16}})
            stretch(from, std::min(count, runs.size() - from));
    if (!runs.empty())
        stretch(0, runs.size());
}

// The runs row by row both ways a thin stroke gives them: by forEachRun (drawing in order) and
// from the source of runs useRunsFrom makes (drawing newest first), which must agree; and the
// columns each stretch of them reaches.
Runs thinRunsOf(const ThinStroke& stroke, std::int64_t first, std::int64_t last) {
    Runs visited, sourced;
    stroke.forEachRun(first, last,
                      [&](std::int64_t, RowRun run) { visited.push_back(asPair(run)); });
    stroke.useRunsFrom(first, [&](auto runs) {
        for (std::int64_t y = first; y <= last; ++y)
            sourced.push_back(asPair(runs.next()));
    });
    EXPECT_EQ(visited, sourced) << "rows " << first << " to " << last;
    expectColumnsOverStretches(stroke, first, visited);
    return visited;
}
} // namespace

TEST(ThinStroke, SetUpOnceItGivesTheRunsOfStrokeRowsFromAnyRow) {
    // Short and long strokes of every direction; long ones near the most rows the fixed point
    // takes, where its rounding has least room; starting at any row as bands do.
    std::mt19937 random(11);
    for (const int reach : {40, 3000, 20000}) {
        std::uniform_int_distribution<int> coordinate(-reach, reach);
        for (int i = 0; i < 300; ++i) {
            const Point from{coordinate(random), coordinate(random)};
            const Point to{coordinate(random), coordinate(random)};
            const ThinStroke thin(from, to);
            ASSERT_FALSE(thin.empty()) << from.x << "," << from.y << " - " << to.x << "," << to.y;
            const StrokeRows rows(from, to, 1);
            ASSERT_EQ(thin.firstRow(), rows.firstRow());
            ASSERT_EQ(thin.lastRow(), rows.lastRow());
            if (rows.firstRow() > rows.lastRow())
                continue;
            ASSERT_EQ(thinRunsOf(thin, rows.firstRow(), rows.lastRow()),
                      runsOf(rows, rows.firstRow(), rows.lastRow()))
                << from.x << "," << from.y << " - " << to.x << "," << to.y;
            const std::int64_t middle = (rows.firstRow() + rows.lastRow()) / 2;
            ASSERT_EQ(thinRunsOf(thin, middle, rows.lastRow()),
                      runsOf(rows, middle, rows.lastRow()));
        }
    }
}

TEST(ThinStroke, ExactQuotientsAndTiesInEveryOctant) {
    // Slopes whose steps land exactly on whole numbers and halves, where rounding the fixed
    // point the wrong way would move a pixel.
    for (const int major : {1, 2, 3, 4, 5, 6, 8, 12, 40, 1024, 40000})
        for (const int minor : {0, 1, 2, 3, major / 2, major - 1, major})
            for (const int signX : {-1, 1})
                for (const int signY : {-1, 1})
                    for (const bool xMajor : {false, true}) {
                        const Point from{7, -3};
                        const Point to{from.x + signX * (xMajor ? major : minor),
                                       from.y + signY * (xMajor ? minor : major)};
                        const StrokeRows rows(from, to, 1);
                        const ThinStroke thin(from, to);
                        ASSERT_FALSE(thin.empty());
                        if (rows.firstRow() > rows.lastRow())
                            continue;
                        ASSERT_EQ(thinRunsOf(thin, rows.firstRow(), rows.lastRow()),
                                  runsOf(rows, rows.firstRow(), rows.lastRow()))
                            << to.x << "," << to.y;
                    }
}

TEST(ThinStroke, StrokesBeyondTheFixedPointAreLeftToStrokeRows) {
    // Too many rows for 32 fraction bits to stay exact, or ends far out: no fixed point.
    EXPECT_TRUE(ThinStroke({0, 0}, {3, 100000}).empty());
    EXPECT_TRUE(ThinStroke({0, 0}, {100000, 70000}).empty());
    EXPECT_TRUE(ThinStroke({std::numeric_limits<std::int32_t>::min(), 0},
                           {std::numeric_limits<std::int32_t>::max(), 5})
                    .empty());
    EXPECT_FALSE(ThinStroke({-20, -20}, {7700, 4340}).empty());
}

TEST(ThinStroke, EveryEndPointNearAStartGivesTheRunsOfStrokeRows) {
    // Every direction and slope a small neighbourhood holds, walked from its first row and
    // from each of its first rows in turn (where rounding errors are smallest and an exact
    // quotient shows a wrong rounding at once).
    const Point from{3, -5};
    for (int dx = -48; dx <= 48; ++dx)
        for (int dy = -48; dy <= 48; ++dy) {
            const Point to{from.x + dx, from.y + dy};
            const StrokeRows rows(from, to, 1);
            const ThinStroke thin(from, to);
            ASSERT_FALSE(thin.empty());
            for (auto start = rows.firstRow();
                 start <= std::min(rows.lastRow(), rows.firstRow() + 3); ++start)
                ASSERT_EQ(thinRunsOf(thin, start, rows.lastRow()),
                          runsOf(rows, start, rows.lastRow()))
                    << to.x << "," << to.y << " from row " << start;
        }
}

TEST(StrokeRows, OnePixelAndZeroLengthStrokesAtThe32BitLimitsSetTheirDefinedPixels) {
    // At and beside the corners of the 32-bit plane, and on its edges level with row or column
    // 0, every pen: each row's run as the pen's definition has it, though a run's ends may lie
    // beyond 32 bits (one past a limit where a run is empty, a wide pen's pixels beyond it); and
    // a thin stroke set up once gives the same runs.
    constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
    const std::int32_t nearLimits[] = {low, low + 1, high - 1, high};
    std::vector<Point> starts;
    for (const std::int32_t x : nearLimits)
        for (const std::int32_t y : nearLimits)
            starts.push_back({x, y});
    for (const std::int32_t limit : nearLimits) {
        starts.push_back({limit, 0});
        starts.push_back({0, limit});
    }
    constexpr int around = 7; // beyond the widest pen's reach here
    for (const Point from : starts)
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) {
                const std::int64_t toX = std::int64_t{from.x} + dx, toY = std::int64_t{from.y} + dy;
                if (toX < low || toX > high || toY < low || toY > high)
                    continue;
                const Point to{static_cast<std::int32_t>(toX), static_cast<std::int32_t>(toY)};
                for (int width = 1; width <= 10; ++width) {
                    const StrokeRows rows(from, to, width);
                    ASSERT_GE(rows.firstRow(), std::int64_t{from.y} - around);
                    ASSERT_LE(rows.lastRow(), std::int64_t{from.y} + around);
                    Runs expected, actual;
                    for (std::int64_t y = std::int64_t{from.y} - around;
                         y <= std::int64_t{from.y} + around; ++y) {
                        std::pair<std::int64_t, std::int64_t> run{1, 0};
                        for (std::int64_t x = std::int64_t{from.x} - around;
                             x <= std::int64_t{from.x} + around; ++x) {
                            // A thin pen sets the start of a one-pixel stroke, and nothing of a
                            // zero-length one.
                            const bool set = width == 1 ? from != to && x == from.x && y == from.y
                                                        : coveredByWidePen(from, to, width, x, y);
                            if (set)
                                run = run.first > run.second ? std::pair{x, x}
                                                             : std::pair{run.first, x};
                        }
                        expected.push_back(run);
                        actual.push_back(y < rows.firstRow() || y > rows.lastRow()
                                             ? std::pair<std::int64_t, std::int64_t>{1, 0}
                                             : runsOf(rows, y, y).front());
                    }
                    ASSERT_EQ(actual, expected) << "width " << width << ", " << from.x << ","
                                                << from.y << " - " << to.x << "," << to.y;
                    const ThinStroke thin(from, to);
                    if (width > 1 || thin.empty())
                        continue;
                    ASSERT_EQ(thin.firstRow(), rows.firstRow());
                    ASSERT_EQ(thin.lastRow(), rows.lastRow());
                    ASSERT_EQ(thinRunsOf(thin, rows.firstRow(), rows.lastRow()),
                              runsOf(rows, rows.firstRow(), rows.lastRow()))
                        << from.x << "," << from.y << " - " << to.x << "," << to.y;
                }
            }
}

namespace {
Runs middleRunsOf(const WideMiddle& middle, std::int64_t first, std::int64_t last) {
    Runs runs;
    MiddleRuns source = middle.runsFrom(first);
    for (std::int64_t y = first; y <= last; ++y)
        runs.push_back(asPair(source.next()));
    expectColumnsOverStretches(middle, first, runs);
    return runs;
}
} // namespace

TEST(WideMiddle, SetUpOnceItGivesTheMiddleRunsOfStrokeRowsFromAnyRow) {
    // Every pen width, short and long strokes of every direction, every small slope near a
    // start (where a centre on the pen's edge shows a wrong rounding at once), each walked from
    // its first middle row and from rows further on, as bands start them.
    std::mt19937 random(12);
    std::vector<std::pair<Point, Point>> strokes;
    for (const int reach : {40, 3000, 9000}) {
        std::uniform_int_distribution<int> coordinate(-reach, reach);
        for (int i = 0; i < 200; ++i)
            strokes.push_back({{coordinate(random), coordinate(random)},
                               {coordinate(random), coordinate(random)}});
    }
    for (int dx = -30; dx <= 30; ++dx)
        for (int dy = -30; dy <= 30; ++dy)
            strokes.push_back({{3, -5}, {3 + dx, -5 + dy}});
    for (int penWidth = 2; penWidth <= 10; ++penWidth)
        for (const auto& [from, to] : strokes) {
            const StrokeRows rows(from, to, penWidth);
            const WideMiddle middle(rows);
            if (middle.empty())
                continue;
            ASSERT_GT(middle.middleFirst(), rows.firstRow());
            ASSERT_LT(middle.middleLast(), rows.lastRow());
            for (const std::int64_t start : {middle.middleFirst(), middle.middleFirst() + 1,
                                             (middle.middleFirst() + middle.middleLast()) / 2}) {
                if (start > middle.middleLast())
                    continue;
                ASSERT_EQ(middleRunsOf(middle, start, middle.middleLast()),
                          runsOf(rows, start, middle.middleLast()))
                    << "pen " << penWidth << ", " << from.x << "," << from.y << " - " << to.x << ","
                    << to.y << " from row " << start;
            }
        }
}

TEST(WideMiddle, HoldsNothingWhereTheFixedPointWouldNotBeExact) {
    // No middle rows (a stroke shorter than its pen), or too many rows for 32 fraction bits, or
    // ends far out: StrokeRows draws those.
    EXPECT_TRUE(WideMiddle(StrokeRows({0, 0}, {3, 4}, 10)).empty());
    EXPECT_TRUE(WideMiddle(StrokeRows({0, 0}, {3, 100000}, 3)).empty());
    EXPECT_TRUE(WideMiddle(StrokeRows({std::numeric_limits<std::int32_t>::min(), 0},
                                      {std::numeric_limits<std::int32_t>::max(), 5}, 3))
                    .empty());
    EXPECT_FALSE(WideMiddle(StrokeRows({-20, -20}, {7700, 4340}, 10)).empty());
}
