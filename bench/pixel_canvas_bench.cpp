// One tick at the busiest level on 1920 x 1080, 3840 x 2160 and 7680 x 4320 pictures, pen widths
// 1, 3 and 10: the saver's own path (drawTick on the picture: strokes made first, then drawn
// newest first a band at a time on every core) next to drawing the same tick in order through
// PixelCanvas, and next to a floor measured in the same run: as many pixels as the in-order
// tick writes on 1920 x 1080, stored plainly one row after another (what memory bandwidth alone
// would cost), and next to the thin pen's tick in order cut down to its stores.
#include "saver_tick_case.hpp"

#include "saver/raster/pixel_canvas.hpp"
#include "saver/raster/tick_raster.hpp"
#include "saver/tick.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using namespace zorblinth;
using bench::BM_SaverTick;
using bench::busiestLevel;
using bench::frozenClock;
using bench::Screen;
using bench::seed;

// The drawing alone, on one thread: the strokes of one tick made beforehand, then drawn newest
// first band by band. Shows the work the saver's tick shares out over the cores.
void BM_BandsOnOneThread(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const auto penWidth = static_cast<int>(state.range(2));
    RandomSource random(frozenClock, seed);
    StrokeList list(screen.width, screen.height, xrgbPixels);
    drawTick(list, random, busiestLevel);
    BandSplit split = bandSplitFor(screen.width, screen.height, penWidth);
    split.threads = 1;
    for (auto _ : state) {
        drawInBands(screen.surface(), penWidth, list.strokes, split);
        benchmark::ClobberMemory();
    }
}

void BM_InOrderThroughPixelCanvas(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const auto penWidth = static_cast<int>(state.range(2));
    RandomSource random(frozenClock, seed);
    std::uint64_t written = 0;
    for (auto _ : state) {
        PixelCanvas canvas(screen.surface(), penWidth);
        drawTick(canvas, random, busiestLevel);
        written += canvas.pixelsWritten();
        benchmark::ClobberMemory();
    }
    state.counters["Mpixels_per_tick"] =
        static_cast<double>(written) / static_cast<double>(state.iterations()) / 1e6;
}

void screensAndPens(benchmark::internal::Benchmark* benchmark) {
    for (auto [width, height] : {std::pair{1920, 1080}, {3840, 2160}, {7680, 4320}})
        for (int pen : {1, 3, 10})
            benchmark->Args({width, height, pen});
    benchmark->ArgNames({"w", "h", "pen"})->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_SaverTick)->Apply(screensAndPens)->UseRealTime();
BENCHMARK(BM_BandsOnOneThread)->Apply(screensAndPens);
BENCHMARK(BM_InOrderThroughPixelCanvas)->Apply(screensAndPens);

// How many pixels one busiest in-order tick writes on 1920 x 1080 at this pen width.
std::uint64_t pixelsPerTick(int penWidth) {
    Screen screen(1920, 1080);
    PixelCanvas canvas(screen.surface(), penWidth);
    RandomSource random(frozenClock, seed);
    drawTick(canvas, random, busiestLevel);
    return canvas.pixelsWritten();
}

void BM_FloorForTheSamePixelCount(benchmark::State& state) {
    const std::uint64_t count = pixelsPerTick(static_cast<int>(state.range(0)));
    Screen screen(1920, 1080);
    std::uint32_t value = 0;
    for (auto _ : state) {
        ++value;
        for (std::uint64_t left = count; left > 0;) {
            const auto chunk = std::min<std::uint64_t>(left, screen.pixels.size());
            std::fill_n(screen.pixels.data(), chunk, value);
            left -= chunk;
        }
        benchmark::ClobberMemory();
    }
    state.counters["Mpixels_per_tick"] = static_cast<double>(count) / 1e6;
}
BENCHMARK(BM_FloorForTheSamePixelCount)->Arg(1)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

// What the thin pen's tick in order costs in stores alone: the same strokes in the same bands of
// rows, on one thread, but each row only its one pixel where the stroke crosses it, found by one
// addition. Every row of a wide picture's band lies in another cache line, so the stores, not
// the stepping, set this time; compare BM_BandsOnOneThread at pen 1. The argument is the band's
// rows; 0 takes the saver's own.
void BM_OneStoreARowInOrder(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    RandomSource random(frozenClock, seed);
    StrokeList list(screen.width, screen.height, xrgbPixels);
    drawTick(list, random, busiestLevel);
    struct Rows {
        std::int64_t column; // 32.32 fixed point, at row `first`
        std::int64_t step;
        int first, last;
        std::uint32_t pixel;
    };
    std::vector<Rows> strokes;
    std::int64_t rowsPerTick = 0;
    for (const TickStroke& stroke : list.strokes) {
        const bool down = stroke.from.y <= stroke.to.y;
        const Point top = down ? stroke.from : stroke.to;
        const Point bottom = down ? stroke.to : stroke.from;
        const std::int64_t rows = std::int64_t{bottom.y} - top.y;
        const std::int64_t step =
            rows == 0 ? 0 : (std::int64_t{bottom.x} - top.x) * (std::int64_t{1} << 32) / rows;
        const int first = std::max(top.y, 0);
        const int last = std::min(bottom.y, screen.height - 1);
        if (first > last)
            continue;
        const std::int64_t column = std::int64_t{top.x} * (std::int64_t{1} << 32) +
                                    (std::int64_t{1} << 31) + (first - top.y) * step;
        strokes.push_back({column, step, first, last, stroke.pixel});
        rowsPerTick += last - first + 1;
    }
    const int bandRows = state.range(2) != 0
                             ? static_cast<int>(state.range(2))
                             : bandSplitFor(screen.width, screen.height, 1).rowsPerBand;
    const auto width = static_cast<std::uint64_t>(screen.width);
    for (auto _ : state) {
        for (int top = 0; top < screen.height; top += bandRows) {
            const int bottom = std::min(top + bandRows, screen.height) - 1;
            for (const Rows& stroke : strokes) {
                const int first = std::max(stroke.first, top);
                const int last = std::min(stroke.last, bottom);
                std::int64_t column = stroke.column + (first - stroke.first) * stroke.step;
                std::uint32_t* row = screen.pixels.data() + static_cast<std::size_t>(first) * width;
                for (int y = first; y <= last; ++y, row += width, column += stroke.step) {
                    const auto x = static_cast<std::uint64_t>(column >> 32);
                    if (x < width)
                        row[x] = stroke.pixel;
                }
            }
        }
        benchmark::ClobberMemory();
    }
    state.counters["Mrows_per_tick"] = static_cast<double>(rowsPerTick) / 1e6;
    state.counters["rows_per_second"] = benchmark::Counter(
        static_cast<double>(rowsPerTick), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_OneStoreARowInOrder)
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 16})
    ->Args({3840, 2160, 256})
    ->Args({7680, 4320, 16})
    ->ArgNames({"w", "h", "band"})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
