#pragma once

// Setting a row's pixel runs: the stores every way of drawing ends in.
// Part of the banded drawing in tick_raster.cpp, and included there alone: what lies in its
// unnamed namespace is that file's own.

#include "saver/raster/stroke_rows.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zorblinth {
namespace {

// Sets count pixels from `at`. A shallow thin stroke's runs are a few pixels long, their
// lengths varying from row to row in no pattern the processor can predict: up to eight are set
// with no branch on the exact length, by overlapping stores that each stay within the run (three
// pixels: the first, the middle and the last; four to eight: the first four and the last four).
inline void fillRun(std::uint32_t* at, std::int64_t count, std::uint32_t pixel) {
    if (count > 8) {
        fillPixels(at, count, pixel);
    } else if (count >= 4) {
        const std::uint32_t quad[4] = {pixel, pixel, pixel, pixel};
        std::memcpy(at, quad, sizeof quad);
        std::memcpy(at + count - 4, quad, sizeof quad);
    } else {
        at[0] = pixel;
        at[count / 2] = pixel;
        at[count - 1] = pixel;
    }
}

// Sets the pixels of `run` on a row that lie within [0, lastColumn].
inline void fillClamped(std::uint32_t* row, RowRun run, std::int64_t lastColumn,
                        std::uint32_t pixel) {
    const std::int64_t left = std::max<std::int64_t>(run.left, 0);
    const std::int64_t right = std::min(run.right, lastColumn);
    if (left <= right)
        fillRun(row + left, right - left + 1, pixel);
}

// Sets `count` rows' runs from row `row` on (the next `stride` on), each the run runs.next()
// gives (one of the sources of runs in stroke_rows.hpp) clamped to [0, lastColumn]: a thin
// stroke in order. The source carries the stroke's direction in its type, so a row costs a few
// additions with no choice to make.
template <class Runs>
void fillRunsInOrder(int count, Runs runs, std::uint32_t* row, std::ptrdiff_t stride,
                     std::int64_t lastColumn, std::uint32_t pixel) {
    if constexpr (requires { Runs::onePixel; }) {
        for (int i = 0; i < count; ++i, row += stride) {
            const std::int64_t x = runs.next().left;
            if (static_cast<std::uint64_t>(x) <= static_cast<std::uint64_t>(lastColumn))
                row[x] = pixel;
        }
        return;
    }
    for (int i = 0; i < count; ++i, row += stride) {
        // No way of its own for one-pixel runs: a shallow stroke's runs are one pixel or two as
        // good as at random, and the branch cost more than it saved (measured 12 % on shallow
        // strokes at 4K).
        fillClamped(row, runs.next(), lastColumn, pixel);
    }
}

} // namespace
} // namespace zorblinth
