// The geometry and colours of one tick at the busiest level on a 1920 x 1080 screen
// (20,737 lines), against a canvas that only records, next to a baseline that only draws raw
// numbers from the same generator without re-seeding.
#include "tick_recording.hpp"

#include "saver/tick.hpp"

#include <benchmark/benchmark.h>

namespace {

using namespace zorblinth;

constexpr int screenWidth = 1920;
constexpr int screenHeight = 1080;
constexpr std::uint8_t busiestLevel = 20;
constexpr int drawsPerLine = 5;

const std::int32_t linesPerBusiestTick = linesPerTick(screenWidth, screenHeight, busiestLevel);

void reportPerLine(benchmark::State& state) {
    // Lines per second, inverted: seconds per line, which the console prints with an SI prefix
    // ("30.4ns").
    state.counters["time_per_line"] =
        benchmark::Counter(linesPerBusiestTick, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
}

void BM_TickAtBusiestLevel(benchmark::State& state) {
    bench::TickRecorder canvas(screenWidth, screenHeight);
    canvas.tick.lines.reserve(static_cast<std::size_t>(linesPerBusiestTick));
    RandomSource random;
    for (auto _ : state) {
        canvas.record(random, busiestLevel);
        benchmark::DoNotOptimize(canvas.tick.lines.data());
    }
    reportPerLine(state);
}
BENCHMARK(BM_TickAtBusiestLevel)->Unit(benchmark::kMillisecond);

void BM_RawDrawsBaseline(benchmark::State& state) {
    RandomSource random;
    for (auto _ : state) {
        float sum = 0;
        for (std::int32_t i = 0; i < (linesPerBusiestTick + 1) * drawsPerLine; ++i)
            sum += random.drawWithoutReseed();
        benchmark::DoNotOptimize(sum);
    }
    reportPerLine(state);
}
BENCHMARK(BM_RawDrawsBaseline)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
