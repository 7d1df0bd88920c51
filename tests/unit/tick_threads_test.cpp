// The banded tick shared out over more threads than the machine may have cores, with wide pens:
// built with ThreadSanitizer (the tsan preset), a set-up one thread makes and another reads
// without the ordering between them shows up here as a race, however the threads happen to run.
#include "saver/raster/pixel_canvas.hpp"
#include "saver/tick.hpp"
#include "saver/raster/tick_raster.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace zorblinth;

namespace {

std::uint64_t frozenClock() {
    return 4321;
}

// A picture inside a padded buffer, filled with a pattern so that a pixel left alone shows.
struct Picture {
    Picture(int width, int height, int padding)
        : pixels(static_cast<std::size_t>(width + padding) * static_cast<std::size_t>(height)) {
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
        surface = {pixels.data(), width, height, width + padding};
    }
    std::vector<std::uint32_t> pixels;
    PixelSurface surface;
};

} // namespace

TEST(TickThreads, WidePensOnFourThreadsDrawWhatDrawingInOrderDraws) {
    // Level 20 on 480 x 360: 1,729 lines a tick, most of them crossing many of the 23 bands of
    // 16 rows, so the four threads take up the same strokes at about the same time. Each thread
    // makes a stretch of the strokes and sets up chunks of them, and from pen 5 a stroke's
    // middle rows are set up by whichever thread needs them first and kept for the others.
    // Three ticks with one workspace: each tick's set-ups replace the last one's.
    constexpr int width = 480, height = 360;
    for (int penWidth : {2, 3, 5, 10}) {
        Picture expected(width, height, 7), actual(width, height, 7);
        RandomSource inOrder(frozenClock, 5), banded(frozenClock, 5);
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
