#include "saver_tick_case.hpp"

#include "saver/tick.hpp"

namespace zorblinth::bench {

std::uint64_t frozenClock() {
    return 0;
}

void BM_SaverTick(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const auto penWidth = static_cast<int>(state.range(2));
    RandomSource random(frozenClock, seed);
    TickWorkspace workspace; // kept from tick to tick, as the saver keeps it
    for (auto _ : state) {
        drawTick(screen.surface(), penWidth, random, busiestLevel, workspace);
        benchmark::ClobberMemory();
    }
}

} // namespace zorblinth::bench
