#pragma once

// The saver's own tick as the benchmarks time it, shared by every benchmark that sets something
// beside it: the same seed, the same picture, the same busiest level.
#include "saver/raster/pixel_surface.hpp"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorblinth::bench {

inline constexpr std::uint8_t busiestLevel = 20;
inline constexpr std::uint64_t seed = 20101;
// What every picture starts as: a mid grey, so that black and white strokes both show.
inline constexpr std::uint32_t startingPixel = 0x00808080u;

// The random source's clock, stopped: every run draws the same ticks.
std::uint64_t frozenClock();

// A 32-bit picture of its own, kept from tick to tick as the saver keeps its window's.
struct Screen {
    Screen(int width, int height)
        : width(width), height(height),
          pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                 startingPixel) {}
    PixelSurface surface() { return {pixels.data(), width, height, width}; }
    int width, height;
    std::vector<std::uint32_t> pixels;
};

// One busiest tick an iteration on the same picture, the saver's own path (strokes made first,
// then drawn newest first a band at a time on every core). Arguments: width, height, pen width.
// Time it in real time: its work is spread over threads.
void BM_SaverTick(benchmark::State& state);

} // namespace zorblinth::bench
