// The banded tick shared out over more threads than the machine may have cores, with wide pens:
// built with ThreadSanitizer (the tsan preset), a set-up one thread makes and another reads
// without the ordering between them shows up here as a race, however the threads happen to run.
#include "padded_picture.hpp"
#include "saver/raster/pixel_canvas.hpp"
#include "saver/raster/tick_raster.hpp"
#include "saver/tick.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace zorblinth;
using zorblinth::test_support::frozenClock;
using zorblinth::test_support::PaddedPicture;

TEST(TickThreads, WidePensOnFourThreadsDrawWhatDrawingInOrderDraws) {
    // Level 20 on 480 x 360: 1,729 lines a tick, most of them crossing many of the 23 bands of
    // 16 rows, so the four threads take up the same strokes at about the same time. Each thread
    // makes a stretch of the strokes and sets up chunks of them, and from pen 5 a stroke's
    // middle rows are set up by whichever thread needs them first and kept for the others.
    // Three ticks with one workspace: each tick's set-ups replace the last one's.
    constexpr int width = 480, height = 360;
    for (int penWidth : {2, 3, 5, 10}) {
        PaddedPicture expected(width, height, 7), actual(width, height, 7);
        RandomSource inOrder(frozenClock<4321>, 5), banded(frozenClock<4321>, 5);
        PixelCanvas canvas(expected.surface, penWidth);
        TickWorkspace workspace;
        for (int tick = 0; tick < 3; ++tick) {
            StrokeList tickStrokes(width, height, xrgbPixels);
            ASSERT_TRUE(drawTick(tickStrokes, banded, 20));
            const std::vector<TickStroke>& made = tickStrokes.strokes;
            workspace.strokes.resize(made.size());
            const auto makeStrokes = [&](std::vector<TickStroke>& strokes, std::size_t first,
                                         std::size_t end) {
                for (std::size_t i = first; i < end; ++i)
                    strokes[i] = made[i];
            };
            ASSERT_TRUE(drawInBands(actual.surface, penWidth, workspace, makeStrokes,
                                    BandSplit{16, 4, false}));
            ASSERT_TRUE(drawTick(canvas, inOrder, 20));
            ASSERT_EQ(actual.pixels, expected.pixels) << "pen " << penWidth << ", tick " << tick;
        }
    }
}
