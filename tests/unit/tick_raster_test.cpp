#include "padded_picture.hpp"
#include "saver/raster/pixel_canvas.hpp"
#include "saver/raster/tick_raster.hpp"
#include "saver/tick.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <random>
#include <thread>
#include <vector>

using namespace zorblinth;
using zorblinth::test_support::frozenClock;
using zorblinth::test_support::PaddedPicture;

namespace {

// Random lines and boxes, some degenerate, with end points up to 20 pixels (or much further)
// outside the picture.
std::vector<TickStroke> randomStrokes(std::mt19937& random, int width, int height, int count) {
    StrokeList list(width, height, xrgbPixels);
    std::uniform_int_distribution<int> x(-20, width + 20), y(-20, height + 20), kind(0, 10);
    std::uniform_int_distribution<std::uint32_t> colour(0, 0xFFFFFF);
    for (int i = 0; i < count; ++i) {
        const Point from{x(random), y(random)};
        Point to{x(random), y(random)};
        switch (kind(random)) {
        case 0:
            list.box(from, to, black);
            break;
        case 1:
            list.box(from, {from.x, to.y}, black); // a line
            break;
        case 2:
            list.box(from, from, black); // a dot
            break;
        case 3:
            list.line(from, {to.x * 40, to.y * -40}, colour(random)); // far off
            break;
        case 4: // as far off as can be
            list.line(from,
                      {to.x % 2 ? std::numeric_limits<std::int32_t>::max()
                                : std::numeric_limits<std::int32_t>::min(),
                       to.y},
                      colour(random));
            break;
        default:
            list.line(from, to, colour(random));
        }
    }
    return list.strokes;
}

void drawInOrder(const PixelSurface& picture, int penWidth,
                 const std::vector<TickStroke>& strokes) {
    PixelCanvas canvas(picture, penWidth);
    for (const TickStroke& stroke : strokes)
        canvas.line(stroke.from, stroke.to, colourFromPixel(stroke.pixel, picture.format));
}

} // namespace

TEST(TickRaster, NewestFirstLeavesThePictureDrawingInOrderLeaves) {
    // Odd sizes, a single row or column, padded rows; bands of one row up to more than the
    // picture; one thread or several; a thin pen in order or newest first.
    struct Case {
        int width, height, padding;
        BandSplit split;
    };
    const Case cases[] = {{37, 29, 0, {4, 1}},          {37, 29, 5, {7, 3, false}},
                          {1, 40, 3, {3, 2}},           {50, 1, 0, {64, 2, false}},
                          {130, 70, 9, {1, 2}},         {129, 64, 1, {64, 1, false}},
                          {200, 90, 0, {16, 4, false}}, {64, 33, 0, {200, 2}}};
    for (unsigned seed = 1; seed <= 3; ++seed)
        for (const Case& c : cases)
            for (int penWidth = 1; penWidth <= 10; ++penWidth) {
                std::mt19937 random(seed * 100 + static_cast<unsigned>(penWidth));
                const auto strokes = randomStrokes(random, c.width, c.height, 60);
                PaddedPicture expected(c.width, c.height, c.padding),
                    actual(c.width, c.height, c.padding);
                drawInOrder(expected.surface, penWidth, strokes);
                ASSERT_TRUE(drawInBands(actual.surface, penWidth, strokes, c.split));
                ASSERT_EQ(actual.pixels, expected.pixels)
                    << c.width << "x" << c.height << " padding " << c.padding << ", bands of "
                    << c.split.rowsPerBand << " on " << c.split.threads << " threads, width "
                    << penWidth << ", seed " << seed;
            }
}

TEST(TickRaster, ThinShallowStrokesAtEveryRunLengthKeepTheirPixels) {
    // Columns a row just below, at and just above each whole number up to 9, where a run's
    // length flips between two values, in the four shallow directions; every stroke within the
    // picture's columns, over several bands. Separate strokes, so an extra pixel or a missing
    // one shows even where no other stroke crosses.
    for (int whole = 1; whole <= 9; ++whole)
        for (int rows : {2, 3, 7, 11})
            for (int extra : {-1, 0, 1}) {
                const int columns = whole * rows + extra;
                std::vector<TickStroke> strokes;
                std::uint32_t pixel = 0x101010;
                for (int sx : {1, -1})
                    for (int sy : {1, -1}) {
                        const int left = 5 + static_cast<int>(strokes.size()) * 100;
                        const Point from{sx > 0 ? left : left + columns, sy > 0 ? 3 : 3 + rows};
                        strokes.push_back(
                            {from, {from.x + sx * columns, from.y + sy * rows}, pixel += 0x0F0F0F});
                    }
                PaddedPicture expected(410, 20, 2), actual(410, 20, 2);
                drawInOrder(expected.surface, 1, strokes);
                ASSERT_TRUE(drawInBands(actual.surface, 1, strokes, {4, 1, true}));
                ASSERT_EQ(actual.pixels, expected.pixels)
                    << columns << " columns over " << rows << " rows";
            }
}

TEST(TickRaster, StrokesSetUpByEveryThreadAreAllDrawn) {
    // Thousands of strokes: their set-up is shared out in chunks over the threads, or (wide
    // pens from 5) made by whichever thread first needs it, and each thread draws from all of
    // them, whichever thread set them up. On a picture this large few strokes are hidden
    // entirely by newer ones, so one left out would show.
    std::mt19937 random(2024);
    const auto strokes = randomStrokes(random, 600, 300, 2500);
    for (int penWidth : {1, 2, 6})
        for (BandSplit split : {BandSplit{16, 2}, BandSplit{8, 3, false}, BandSplit{40, 1}}) {
            PaddedPicture expected(600, 300, 0), actual(600, 300, 0);
            drawInOrder(expected.surface, penWidth, strokes);
            ASSERT_TRUE(drawInBands(actual.surface, penWidth, strokes, split));
            EXPECT_EQ(actual.pixels, expected.pixels)
                << "width " << penWidth << " on " << split.threads << " threads";
        }
}

TEST(TickRaster, ThousandsOfDrawingsInARowEachEnd) {
    // The threads wait for each other's set-up every drawing: a wake-up missed once in a few
    // thousand drawings (as an atomic wait did, built with MinGW and run under Wine) hangs the
    // saver, and this test with it.
    std::mt19937 random(7);
    const auto strokes = randomStrokes(random, 40, 30, 1100);
    PaddedPicture picture(40, 30, 0);
    for (int drawing = 0; drawing < 5000; ++drawing)
        ASSERT_TRUE(drawInBands(picture.surface, 1 + drawing % 2, strokes, BandSplit{8, 2}))
            << drawing;
}

TEST(TickRaster, CoveredTilesArePassedOverWithoutLosingTheirOpenPixels) {
    // A picture fully covered by newer strokes except for one pixel, under older strokes that
    // cross it: the pixel must still take the newest of them. At width 3 each row stroke covers
    // the row above and below it as well; the round ends of the two pieces on row 10 stop one
    // pixel short of x = 64.
    for (int penWidth : {1, 3}) {
        const int reach = penWidth / 2;
        std::vector<TickStroke> strokes;
        strokes.push_back({{5, 3}, {125, 17}, 0x111111});  // oldest, crosses the hole
        strokes.push_back({{64, -5}, {64, 25}, 0x222222}); // through the hole's column
        for (int y = 0; y < 20; ++y)
            if (y < 10 - reach || y > 10 + reach)
                strokes.push_back({{-5, y}, {140, y}, 0x333333});
        strokes.push_back({{-5, 10}, {64 - 2 * reach, 10}, 0x444444});
        strokes.push_back({{65 + 2 * reach, 10}, {140, 10}, 0x444444});
        for (BandSplit split : {BandSplit{20, 1, false}, BandSplit{4, 2, false}}) {
            PaddedPicture expected(130, 20, 0), actual(130, 20, 0);
            drawInOrder(expected.surface, penWidth, strokes);
            drawInBands(actual.surface, penWidth, strokes, split);
            EXPECT_EQ(actual.surface.at(64, 10), 0x222222u) << penWidth;
            EXPECT_EQ(actual.pixels, expected.pixels) << penWidth;
        }
    }
}

TEST(TickRaster, ABusyPictureIsPassedOverTileByTileAndKeepsEveryOpenPixel) {
    // As at 4K: each pixel covered many times, so that most tiles fill while older strokes
    // still come, and strokes cross covered and open tiles of one band, their open rows apart;
    // wide pens from 5 pass strokes over first by the columns near them.
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        const auto strokes = randomStrokes(random, 300, 120, 2000);
        for (int penWidth : {1, 2, 3, 5, 10})
            for (BandSplit split :
                 {BandSplit{48, 1, false}, BandSplit{32, 2, false}, BandSplit{120, 2, false}}) {
                PaddedPicture expected(300, 120, 3), actual(300, 120, 3);
                drawInOrder(expected.surface, penWidth, strokes);
                ASSERT_TRUE(drawInBands(actual.surface, penWidth, strokes, split));
                EXPECT_EQ(actual.pixels, expected.pixels) << "width " << penWidth << ", bands of "
                                                          << split.rowsPerBand << ", seed " << seed;
            }
    }
}

TEST(TickRaster, AThinStrokeIsHeldAgainstEveryTileItReachesOnATileRow) {
    // Two thin strokes that each reach one column into a tile not yet covered, from a covered
    // one next to it: the first pixel of one and the last of the other must still be drawn.
    std::vector<TickStroke> strokes;
    strokes.push_back({{63, 0}, {70, 16}, 0x111111});  // from x = 63 rightwards, rows 0 to 15
    strokes.push_back({{64, 16}, {57, 32}, 0x222222}); // from x = 64 leftwards, rows 16 to 31
    for (int y = 0; y < 16; ++y)
        strokes.push_back({{64, y}, {131, y}, 0x333333}); // covers the second tile's rows 0-15
    for (int y = 16; y < 32; ++y)
        strokes.push_back({{-1, y}, {64, y}, 0x444444}); // covers the first tile's rows 16-31
    PaddedPicture expected(130, 32, 0), actual(130, 32, 0);
    drawInOrder(expected.surface, 1, strokes);
    drawInBands(actual.surface, 1, strokes, BandSplit{32, 1, false});
    EXPECT_EQ(actual.surface.at(63, 0), 0x111111u);
    EXPECT_EQ(actual.surface.at(64, 16), 0x222222u);
    EXPECT_EQ(actual.pixels, expected.pixels);
}

TEST(TickRaster, TheFastTickDrawsTheTickOfDrawingInOrder) {
    // Same seed, same clock: the same draws, so the same picture, at the busiest level.
    for (int penWidth : {1, 2, 5, 10}) {
        PaddedPicture expected(203, 151, 3), actual(203, 151, 3);
        RandomSource inOrder(frozenClock<1234>, 77), fast(frozenClock<1234>, 77);
        PixelCanvas canvas(expected.surface, penWidth);
        ASSERT_TRUE(drawTick(canvas, inOrder, 20));
        ASSERT_TRUE(drawTick(actual.surface, penWidth, fast, 20));
        EXPECT_EQ(actual.pixels, expected.pixels) << penWidth;
        EXPECT_EQ(inOrder.draw(), fast.draw()) << "both took the same number of draws";
    }
}

TEST(TickRaster, TicksWithOneWorkspaceDrawWhatTicksInOrderDraw) {
    // Thousands of lines, made in stretches on every thread from their own places in the draws;
    // a workspace kept from tick to tick while the pen and the picture change under it, as
    // settings and screens do between saver runs (a wide pen twice: its middles of the tick
    // before must not be taken for this one's).
    struct Step {
        int width, height, penWidth;
    };
    RandomSource inOrder(frozenClock<1234>, 31), fast(frozenClock<1234>, 31);
    TickWorkspace workspace;
    for (const Step step : {Step{640, 480, 10}, Step{640, 480, 10}, Step{640, 480, 3},
                            Step{700, 420, 1}, Step{640, 480, 1}, Step{520, 530, 7}}) {
        PaddedPicture expected(step.width, step.height, 5), actual(step.width, step.height, 5);
        PixelCanvas canvas(expected.surface, step.penWidth);
        ASSERT_TRUE(drawTick(canvas, inOrder, 20));
        ASSERT_TRUE(drawTick(actual.surface, step.penWidth, fast, 20, workspace));
        EXPECT_EQ(actual.pixels, expected.pixels)
            << step.width << " x " << step.height << ", pen " << step.penWidth;
    }
    EXPECT_EQ(inOrder.draw(), fast.draw()) << "both took the same number of draws";
}

TEST(TickRaster, OnlyTheCallingThreadIsAskedAndAYesStopsEveryThread) {
    PaddedPicture picture(300, 200, 0);
    std::mt19937 random(3);
    const auto strokes = randomStrokes(random, 300, 200, 3000);
    const auto caller = std::this_thread::get_id();
    std::atomic<int> asked{0}, askedElsewhere{0};
    const bool finished = drawInBands(picture.surface, 10, strokes, {8, 3}, [&] {
        if (std::this_thread::get_id() != caller)
            ++askedElsewhere;
        return ++asked == 3;
    });
    EXPECT_FALSE(finished);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(askedElsewhere, 0);

    asked = 0;
    EXPECT_TRUE(drawInBands(picture.surface, 1, strokes, {8, 3}, [&] { return ++asked, false; }));
    EXPECT_GT(asked, 0);
    EXPECT_EQ(askedElsewhere, 0);
}

TEST(TickRaster, InputWaitingStopsTheFastTick) {
    // 20,737 wide lines take some milliseconds to make and draw on any machine: input is asked
    // about, and its yes ends the tick.
    PaddedPicture picture(1920, 1080, 0);
    RandomSource random(frozenClock<1234>, 9);
    int asked = 0;
    EXPECT_FALSE(drawTick(picture.surface, 10, random, 20, [&] { return ++asked, true; }));
    EXPECT_EQ(asked, 1);
}

TEST(TickRaster, StrokesAtThe32BitLimitsSetWhatTheySetInOrder) {
    // Zero-length and one-pixel strokes in every direction at each corner of the 32-bit plane,
    // and along its edges level with the picture's rows and columns (where a stroke's row or
    // column is one the picture has), then lines from limit to limit through the picture, which
    // show whether anything before them set pixels it should not have. Run ends one past a
    // limit do not fit in 32 bits: nothing may wrap round onto the picture.
    constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
    constexpr int width = 40, height = 24;
    const std::int32_t nearLimits[] = {low, low + 1, high - 1, high};
    std::vector<Point> starts;
    for (const std::int32_t x : nearLimits)
        for (const std::int32_t y : nearLimits)
            starts.push_back({x, y});
    for (const std::int32_t limit : nearLimits)
        for (const std::int32_t inside : {0, 9, height - 1}) {
            starts.push_back({limit, inside});
            starts.push_back({inside, limit});
        }
    std::vector<TickStroke> strokes;
    std::uint32_t pixel = 0x010203;
    for (const Point start : starts)
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) {
                const std::int64_t x = std::int64_t{start.x} + dx, y = std::int64_t{start.y} + dy;
                if (x >= low && x <= high && y >= low && y <= high)
                    strokes.push_back({start,
                                       {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)},
                                       pixel += 0x030507});
            }
    strokes.push_back({{low, 5}, {high, 5}, 0xA0A0A0});
    strokes.push_back({{high, 17}, {low, 17}, 0xA1A1A1});
    strokes.push_back({{7, low}, {7, high}, 0xB0B0B0});
    strokes.push_back({{31, high}, {31, low}, 0xB1B1B1});
    strokes.push_back({{low, low}, {high, high}, 0xC0C0C0});
    strokes.push_back({{high, low}, {low, high}, 0xC1C1C1});
    for (int penWidth : {1, 2, 3, 4, 7, 10})
        for (BandSplit split : {BandSplit{8, 1, true}, BandSplit{8, 2, false},
                                BandSplit{5, 1, false}, BandSplit{24, 1, true}}) {
            PaddedPicture expected(width, height, 3), actual(width, height, 3);
            drawInOrder(expected.surface, penWidth, strokes);
            ASSERT_TRUE(drawInBands(actual.surface, penWidth, strokes, split));
            EXPECT_EQ(actual.pixels, expected.pixels)
                << "width " << penWidth << ", bands of " << split.rowsPerBand
                << (split.thinPenInOrder ? " in order" : " newest first");
        }
}
