#pragma once

// Each stroke's set-up and reach, shared out over the drawing threads, and the band queue
// they take their bands from.
// Part of the banded drawing in tick_raster.cpp, and included there alone: what lies in its
// unnamed namespace is that file's own.

#include "saver/raster/stroke_rows.hpp"
#include "saver/raster/tick_coverage.hpp"
#include "saver/raster/tick_raster.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace zorblinth {
namespace {

// The rows a stroke may reach, from its end points and the pen.
struct StrokeReach {
    std::int32_t top;
    std::int32_t bottom;
};

StrokeReach reachOf(const TickStroke& stroke, int penWidth, int height) {
    const auto row = [&](std::int64_t y) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(y, -1, height));
    };
    return {row(std::int64_t{std::min(stroke.from.y, stroke.to.y)} - penWidth),
            row(std::int64_t{std::max(stroke.from.y, stroke.to.y)} + penWidth)};
}

// A stroke's columns a row, 0 for a level one.
double columnsPerRowOf(const TickStroke& stroke) {
    const std::int64_t dy = std::int64_t{stroke.to.y} - stroke.from.y;
    return dy == 0 ? 0.0
                   : static_cast<double>(std::int64_t{stroke.to.x} - stroke.from.x) /
                         static_cast<double>(dy);
}

// What each stroke of a tick is set up with once, index for index. Where they reach is kept
// apart from the rest: every band reads it for every stroke, so it is kept small (at 8K, 2.6 MB
// of a third of a million strokes).
struct StrokeSetUps {
    // Room for this many strokes of this pen, each to be set up before it is drawn; kept from
    // one tick to the next (see TickWorkspace).
    void prepare(std::size_t strokes, int penWidth) {
        reaches.resize(strokes);
        columnsPerRow.resize(strokes);
        thin.resize(penWidth == 1 ? strokes : 0);
        middlesWhenNeeded = penWidth >= middlesWhenNeededFrom;
        wideMiddles_.resize(penWidth > 1 ? strokes : 0);
        const std::size_t states = penWidth > 1 && middlesWhenNeeded ? strokes : 0;
        if (states > middleStatesRoom_) {
            middleStates_ = std::make_unique<std::atomic<std::uint8_t>[]>(states);
            middleStatesRoom_ = states;
        }
        middleStateCount_ = states;
    }
    std::vector<StrokeReach> reaches;
    std::vector<double> columnsPerRow;
    std::vector<ThinStroke> thin; // the thin pen's

    // Wide pens: each stroke's middle rows (WideMiddle), set up with the rest; or, from this
    // width on, only when a band first needs them, a stroke being passed over first where even
    // the columns near it are covered. So wide a pen covers each pixel so often that most
    // strokes are passed over in every band, and setting them all up cost nearly a tenth of the
    // tick. Measured at 8K on two cores, set up when needed: pen 5 the same, pen 7 5 % faster,
    // pen 10 8 %, pen 20 15 %; but pens 2 and 3 1 to 3 % slower, as the columns near a stroke
    // are then seldom all covered.
    static constexpr int middlesWhenNeededFrom = 5;
    bool middlesWhenNeeded = false;

    bool wide() const { return !wideMiddles_.empty(); }

    // Forgets the stroke's middle of the tick before, if one was set up when needed.
    void forgetMiddle(std::size_t index) {
        if (index < middleStateCount_)
            middleStates_[index].store(unset, std::memory_order_relaxed);
    }

    // The stroke's middle if it is set up, else null.
    const WideMiddle* middleSetUp(std::size_t index) const {
        return !middlesWhenNeeded || middleStates_[index].load(std::memory_order_acquire) == ready
                   ? &wideMiddles_[index]
                   : nullptr;
    }

    // With the rest, by the one thread setting up this stroke.
    void setUpMiddle(std::size_t index, const StrokeRows& rows) {
        wideMiddles_[index] = WideMiddle(rows);
    }

    // When needed: the first thread to claim a stroke keeps its middle for the others; one that
    // finds it claimed but not yet ready sets up its own copy in `own` rather than wait, and
    // gets that back.
    const WideMiddle& setUpMiddleOnce(std::size_t index, const StrokeRows& rows, WideMiddle& own) {
        own = WideMiddle(rows);
        std::uint8_t unclaimed = unset;
        if (!middleStates_[index].compare_exchange_strong(unclaimed, claimed,
                                                          std::memory_order_acquire))
            return own;
        wideMiddles_[index] = own;
        middleStates_[index].store(ready, std::memory_order_release);
        return wideMiddles_[index];
    }

private:
    static constexpr std::uint8_t unset = 0, claimed = 1, ready = 2;
    std::vector<WideMiddle> wideMiddles_;
    std::unique_ptr<std::atomic<std::uint8_t>[]> middleStates_;
    std::size_t middleStatesRoom_ = 0;
    std::size_t middleStateCount_ = 0;
};

// The columns where a stroke may set pixels on rows top to bottom: a segment widened by its pen
// sets no pixel further than the pen's width from it, so this range (padded for rounding) holds
// them all.
RowRun columnsNear(const TickStroke& stroke, double columnsPerRow, int penWidth, std::int64_t top,
                   std::int64_t bottom) {
    const double x1 = stroke.from.x, y1 = stroke.from.y, x2 = stroke.to.x, y2 = stroke.to.y;
    double low = std::min(x1, x2), high = std::max(x1, x2);
    if (y1 != y2) {
        const double yA =
            std::clamp(static_cast<double>(top - penWidth), std::min(y1, y2), std::max(y1, y2));
        const double yB =
            std::clamp(static_cast<double>(bottom + penWidth), std::min(y1, y2), std::max(y1, y2));
        const double xA = x1 + (yA - y1) * columnsPerRow;
        const double xB = x1 + (yB - y1) * columnsPerRow;
        low = std::min(xA, xB);
        high = std::max(xA, xB);
    }
    return {static_cast<std::int64_t>(low) - penWidth - 2,
            static_cast<std::int64_t>(high) + penWidth + 2};
}

// A stroke's rows found open tile row by tile row, handed on in stretches: rows found covered
// between two open ones are walked over with them when no more than rowsWalkedOver, as starting
// a stretch again costs more than looking at a few covered rows (measured at 4K and 8K: 2 to 8
// gave the same times, all faster than none).
template <class Draw> class OpenStretches {
public:
    static constexpr int rowsWalkedOver = 4;

    explicit OpenStretches(Draw draw) : draw_(draw) {}

    // Takes the rows whose bits are set in `open`, a bit a row from row `first` (bits beyond
    // the tile row's last cleared).
    void take(std::int64_t first, std::uint32_t open) {
        for (std::int64_t row = first; open != 0;) {
            const int skipped = std::countr_zero(open);
            const int length = std::countr_one(open >> skipped);
            const std::int64_t stretchFirst = row + skipped;
            if (first_ <= last_ && stretchFirst > last_ + 1 + rowsWalkedOver) {
                draw_(first_, last_);
                last_ = first_ - 1;
            }
            if (first_ > last_)
                first_ = stretchFirst;
            last_ = stretchFirst + length - 1;
            open >>= skipped + length; // at most a tile row's rows, fewer than the bits
            row = last_ + 1;
        }
    }

    // Hands on what is left.
    void finish() {
        if (first_ <= last_)
            draw_(first_, last_);
        last_ = first_ - 1;
    }

private:
    Draw draw_;
    std::int64_t first_ = 0, last_ = -1;
};

// The strokes' set-up (where each lies, and a thin stroke's fixed point), shared out in chunks
// over the threads that draw: at 8K a tick has a third of a million strokes, which take 20 ms
// to set up on one core.
struct StrokeSetUp {
    static constexpr std::size_t strokesPerChunk = 1024;
    explicit StrokeSetUp(std::size_t strokes)
        : chunks((strokes + strokesPerChunk - 1) / strokesPerChunk) {}
    std::size_t chunks;
    std::atomic<std::size_t> next{0};
    // A mutex and a condition rather than waiting on an atomic: built with MinGW-w64 (GCC 12)
    // and run under Wine, an atomic wait now and then never woke, and the tick never ended.
    std::mutex mutex;
    std::condition_variable allDone;
    std::size_t done = 0;
};

// Makes strokes[first] to strokes[end - 1], when the drawing makes its strokes.
using MakeStrokes = std::function<void(std::size_t first, std::size_t end)>;

// The shared state of one drawing: the next band to take, how many are done, and whether to
// stop.
struct BandQueue {
    int bands;
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0;
};

// Makes (where `make` is given) and sets up chunks of strokes until none is left to take, then
// waits for the ones other threads took: every thread draws from all of them. The calling thread
// passes shouldStop and asks it before each chunk; once the drawing stops, the chunks left are
// counted done untouched.
void setUpStrokes(const std::vector<TickStroke>& strokes, const MakeStrokes& make, int penWidth,
                  int height, StrokeSetUps& setUps, StrokeSetUp& setUp, BandQueue& queue,
                  const StopRequest* shouldStop) {
    for (std::size_t chunk = setUp.next++; chunk < setUp.chunks; chunk = setUp.next++) {
        if (shouldStop && !queue.stop && (*shouldStop)())
            queue.stop = true;
        if (!queue.stop) {
            const std::size_t first = chunk * StrokeSetUp::strokesPerChunk;
            const std::size_t end = std::min(first + StrokeSetUp::strokesPerChunk, strokes.size());
            if (make)
                make(first, end);
            for (std::size_t i = first; i < end; ++i) {
                setUps.reaches[i] = reachOf(strokes[i], penWidth, height);
                setUps.columnsPerRow[i] = columnsPerRowOf(strokes[i]);
                if (!setUps.thin.empty())
                    setUps.thin[i] = ThinStroke(strokes[i].from, strokes[i].to);
                if (setUps.wide() && !setUps.middlesWhenNeeded)
                    setUps.setUpMiddle(i, StrokeRows(strokes[i].from, strokes[i].to, penWidth));
                setUps.forgetMiddle(i);
            }
        }
        const std::lock_guard lock(setUp.mutex);
        if (++setUp.done == setUp.chunks)
            setUp.allDone.notify_all();
    }
    std::unique_lock lock(setUp.mutex);
    setUp.allDone.wait(lock, [&] { return setUp.done == setUp.chunks; });
}

// What one drawing thread keeps from band to band and, in a workspace, from tick to tick.
struct ThreadScratch {
    std::vector<std::uint32_t> inBand; // the strokes reaching the band, by index
    std::optional<BandCoverage> coverage;
};

// One drawing thread's side of the band queue: whether the drawing stops, asked of shouldStop
// (the calling thread's only) every few strokes, and each band it finishes.
class BandTaker {
public:
    BandTaker(BandQueue& queue, const StopRequest* shouldStop)
        : queue_(queue), shouldStop_(shouldStop) {}

    bool stopped() {
        if (shouldStop_ && ++sinceAsked_ == 32) {
            sinceAsked_ = 0;
            if ((*shouldStop_)())
                queue_.stop = true;
        }
        return queue_.stop.load();
    }

    void bandDone() {
        const std::lock_guard lock(queue_.mutex);
        if (++queue_.done == queue_.bands)
            queue_.finished.notify_all();
    }

private:
    BandQueue& queue_;
    const StopRequest* shouldStop_;
    int sinceAsked_ = 0;
};

// Lists the strokes reaching rows top to bottom in inBand, in drawing order; returns how many.
// Without a branch a stroke: whether a random stroke reaches a band is a coin toss the processor
// cannot predict.
std::size_t listStrokesReaching(const std::vector<StrokeReach>& reaches, int top, int bottom,
                                std::uint32_t* inBand) {
    std::size_t reaching = 0;
    for (std::size_t i = 0; i < reaches.size(); ++i) {
        inBand[reaching] = static_cast<std::uint32_t>(i);
        reaching += reaches[i].bottom >= top && reaches[i].top <= bottom ? 1 : 0;
    }
    return reaching;
}

} // namespace
} // namespace zorblinth
