#include "saver/raster/tick_raster.hpp"

#include "saver/raster/pixel_canvas.hpp"
#include "saver/raster/stroke_rows.hpp"
// The banded drawing's pieces, each this file's own, in the order they build on each other.
#include "saver/raster/tick_coverage.hpp"
#include "saver/raster/tick_newest_first.hpp"
#include "saver/raster/tick_runs.hpp"
#include "saver/raster/tick_stroke_setup.hpp"
#include "saver/raster/tick_thin_in_order.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace zorblinth {

void StrokeList::line(Point from, Point to, Colour colour) {
    strokes.push_back({from, to, pixelFromColour(colour, format_)});
}

void StrokeList::box(Point corner, Point oppositeCorner, Colour colour) {
    const std::uint32_t pixel = pixelFromColour(colour, format_);
    const BoxOutline outline = boxOutline(corner, oppositeCorner);
    for (int side = 0; side < outline.count; ++side)
        strokes.push_back({outline.sides[side].from, outline.sides[side].to, pixel});
}

BandSplit bandSplitFor(int width, int height, int penWidth) {
    // Threads cost a start each tick: worth it only on pictures with some millions of writes.
    const bool large = std::int64_t{width} * height >= 512 * 512;
    const int cores = static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
    const int threads = large ? std::min(cores, 8) : 1;
    const auto multipleOf16 = [](int rows) { return rows / 16 * 16; };
    // Measured: up to 4K a thin pen is drawn faster in order (at 1080p in half the time);
    // beyond, where a tick's lines are longer still, newest first (at 8K in half the time).
    if (penWidth <= 1 && std::int64_t{width} * height <= 3840 * 2160) {
        // Bands of about a quarter of a million pixels (a megabyte): one a thread, they stay in
        // the cache even where two cores share it. But no fewer than 96 rows: each band takes up
        // again every stroke crossing it, and at 4K that costs more than a band a little larger
        // than the cache (measured: 96 rows drawn in 95 % of the time of 64, and of 128).
        return {std::clamp(multipleOf16((1 << 18) / std::max(width, 1)), 96, 256), threads, true};
    }
    // Newest first, each pixel written once: what counts is less the cache than how often the
    // strokes are walked and set up, so bands are tall: about 256 rows, and 512 beyond 4K, where
    // every band takes up four times the strokes (measured best from 1080p to 8K). And the same
    // number of bands for every thread: threads take bands as they come, and a band more on one
    // leaves the others idle for its length (at 8K, pen 10: 9 bands of 512 rows took 113 ms a
    // tick, 8 of 544 rows 97 ms).
    const int tallBand = std::int64_t{width} * height > 3840 * 2160 ? 512 : 256;
    const int bandsPerThread =
        std::max((2 * height + tallBand * threads) / (2 * tallBand * threads), 1);
    const int bands = bandsPerThread * threads;
    return {std::max(multipleOf16((height + bands - 1) / bands + 15), 16), threads, false};
}

namespace {

// Draws the strokes into firstBand and then each band it takes until none is left or the
// drawing stops. The calling thread passes shouldStop and asks it every few strokes. A thin pen
// drawn in order, or newest first, has a way of its own, kept out of the other pens' code.
template <bool thinNewestFirst>
void drawBands(const PixelSurface& picture, int penWidth, const std::vector<TickStroke>& strokes,
               StrokeSetUps& setUps, ThreadScratch& scratch, int rowsPerBand, bool thinPenInOrder,
               BandQueue& queue, const StopRequest* shouldStop, int firstBand) {
    if (!scratch.coverage || scratch.coverage->width() != picture.width)
        scratch.coverage.emplace(picture.width);
    NewestFirstBands<thinNewestFirst> newestFirst(picture, penWidth, strokes, setUps,
                                                  *scratch.coverage);
    // Every thin stroke has its set-up (an empty one where StrokeRows must draw it).
    const bool inOrder = penWidth == 1 && thinPenInOrder;
    BandTaker taker(queue, shouldStop);
    const auto stopped = [&taker] { return taker.stopped(); };
    std::vector<std::uint32_t>& inBand = scratch.inBand;
    inBand.resize(strokes.size());
    for (int band = firstBand; band < queue.bands; band = queue.next++) {
        const int top = band * rowsPerBand;
        const int bottom = std::min(top + rowsPerBand, picture.height) - 1;
        const std::size_t reaching =
            listStrokesReaching(setUps.reaches, top, bottom, inBand.data());
        const bool drawn =
            inOrder ? drawThinBandInOrder(picture, strokes, setUps.thin, inBand.data(), reaching,
                                          top, bottom, stopped)
                    : newestFirst.drawBand(top, bottom, inBand.data(), reaching, stopped);
        if (!drawn)
            return;
        taker.bandDone();
    }
}

void drawBands(const PixelSurface& picture, int penWidth, const std::vector<TickStroke>& strokes,
               StrokeSetUps& setUps, ThreadScratch& scratch, int rowsPerBand, bool thinPenInOrder,
               BandQueue& queue, const StopRequest* shouldStop, int firstBand) {
    if (penWidth == 1 && !thinPenInOrder)
        drawBands<true>(picture, penWidth, strokes, setUps, scratch, rowsPerBand, thinPenInOrder,
                        queue, shouldStop, firstBand);
    else
        drawBands<false>(picture, penWidth, strokes, setUps, scratch, rowsPerBand, thinPenInOrder,
                         queue, shouldStop, firstBand);
}

} // namespace

struct TickWorkspace::Drawing {
    StrokeSetUps setUps;
    std::vector<ThreadScratch> threads; // the calling thread's first
};

TickWorkspace::TickWorkspace() : drawing_(std::make_unique<Drawing>()) {}
TickWorkspace::~TickWorkspace() = default;
TickWorkspace::TickWorkspace(TickWorkspace&&) noexcept = default;
TickWorkspace& TickWorkspace::operator=(TickWorkspace&&) noexcept = default;

TickWorkspace::Drawing& TickWorkspace::drawing() {
    if (!drawing_) // moved from
        drawing_ = std::make_unique<Drawing>();
    return *drawing_;
}

namespace {

bool drawStrokesInBands(const PixelSurface& picture, int penWidth,
                        const std::vector<TickStroke>& strokes, const MakeStrokes& make,
                        BandSplit split, const StopRequest& shouldStop,
                        TickWorkspace::Drawing& workspace) {
    if (picture.width <= 0 || picture.height <= 0)
        return true;
    penWidth = std::clamp(penWidth, 1, widestPen);
    const int rowsPerBand = std::max(split.rowsPerBand, 1);
    BandQueue queue;
    queue.bands = (picture.height + rowsPerBand - 1) / rowsPerBand;
    const int helpers = std::clamp(split.threads, 1, queue.bands) - 1;
    const StopRequest* ask = shouldStop ? &shouldStop : nullptr;
    // The calling thread takes the first band before any other thread starts, so it asks
    // shouldStop however quickly the others draw.
    const int callersBand = queue.next++;
    StrokeSetUps& setUps = workspace.setUps;
    setUps.prepare(strokes.size(), penWidth);
    if (workspace.threads.size() < static_cast<std::size_t>(helpers) + 1)
        workspace.threads.resize(static_cast<std::size_t>(helpers) + 1);
    StrokeSetUp setUp(strokes.size());
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < helpers; ++i) {
            try {
                threads.emplace_back(
                    [&, &scratch = workspace.threads[static_cast<std::size_t>(i) + 1]] {
                        setUpStrokes(strokes, make, penWidth, picture.height, setUps, setUp, queue,
                                     nullptr);
                        drawBands(picture, penWidth, strokes, setUps, scratch, rowsPerBand,
                                  split.thinPenInOrder, queue, nullptr, queue.next++);
                    });
            } catch (const std::system_error&) {
                break; // no more threads to be had: the ones there are share the bands
            }
        }
        setUpStrokes(strokes, make, penWidth, picture.height, setUps, setUp, queue, ask);
        drawBands(picture, penWidth, strokes, setUps, workspace.threads[0], rowsPerBand,
                  split.thinPenInOrder, queue, ask, callersBand);
        // The other threads may still be drawing: keep asking while waiting for them.
        std::unique_lock lock(queue.mutex);
        while (queue.done < queue.bands && !queue.stop) {
            if (queue.finished.wait_for(lock, std::chrono::milliseconds(1),
                                        [&] { return queue.done == queue.bands; }))
                break;
            if (ask) {
                lock.unlock();
                if ((*ask)())
                    queue.stop = true;
                lock.lock();
            }
        }
    }
    return !queue.stop;
}

} // namespace

bool drawInBands(const PixelSurface& picture, int penWidth, const std::vector<TickStroke>& strokes,
                 BandSplit split, const StopRequest& shouldStop) {
    TickWorkspace workspace;
    return drawStrokesInBands(picture, penWidth, strokes, {}, split, shouldStop,
                              workspace.drawing());
}

bool drawInBands(const PixelSurface& picture, int penWidth, TickWorkspace& workspace,
                 const StrokeMaker& makeStrokes, BandSplit split, const StopRequest& shouldStop) {
    return drawStrokesInBands(
        picture, penWidth, workspace.strokes,
        [&](std::size_t first, std::size_t end) { makeStrokes(workspace.strokes, first, end); },
        split, shouldStop, workspace.drawing());
}

} // namespace zorblinth
