// One tick at the busiest level on a 1920 x 1080 surface drawn through PixelCanvas, for pen
// widths 1, 3 and 10, next to a floor measured in the same run: as many pixels as that tick
// writes, stored plainly one row after another (what memory bandwidth alone would cost).
#include "saver/pixel_canvas.hpp"
#include "saver/tick.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using namespace zorblinth;

constexpr int screenWidth = 1920;
constexpr int screenHeight = 1080;
constexpr std::uint8_t busiestLevel = 20;
constexpr std::uint64_t seed = 20101;

std::uint64_t frozenClock() {
    return 0;
}

struct Screen {
    std::vector<std::uint32_t> pixels =
        std::vector<std::uint32_t>(std::size_t{screenWidth} * screenHeight, 0x00808080u);
    PixelSurface surface() { return {pixels.data(), screenWidth, screenHeight, screenWidth}; }
};

// How many pixels one busiest tick writes at this pen width.
std::uint64_t pixelsPerTick(int penWidth) {
    Screen screen;
    PixelCanvas canvas(screen.surface(), penWidth);
    RandomSource random(frozenClock, seed);
    drawTick(canvas, random, busiestLevel);
    return canvas.pixelsWritten();
}

void BM_BusiestTick(benchmark::State& state) {
    const auto penWidth = static_cast<int>(state.range(0));
    Screen screen;
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
BENCHMARK(BM_BusiestTick)->Arg(1)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_FloorForTheSamePixelCount(benchmark::State& state) {
    const std::uint64_t count = pixelsPerTick(static_cast<int>(state.range(0)));
    Screen screen;
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

} // namespace

BENCHMARK_MAIN();
