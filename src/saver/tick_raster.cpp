#include "saver/tick_raster.hpp"

#include "saver/stroke_rows.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

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

BandSplit bandSplitFor(int width, int height) {
    // Threads cost a start each tick: worth it only on pictures with some millions of writes.
    const bool large = std::int64_t{width} * height >= 512 * 512;
    const int cores = static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
    return {64, large ? std::min(cores, 8) : 1};
}

namespace {

constexpr int bitsPerWord = 64;
constexpr std::uint64_t allBits = ~std::uint64_t{0};

// Sets count pixels from `at` on.
void fillPixels(std::uint32_t* at, int count, std::uint32_t pixel) {
    std::fill_n(at, count, pixel);
}

// One band's coverage: a bit a pixel for "a newer stroke set it", and for each 64-pixel column
// of the band how many of its rows are covered all along it, so that a stroke crossing only
// covered columns is passed over without looking at its rows.
class BandCoverage {
public:
    explicit BandCoverage(int width)
        : width_(width), wordsPerRow_((width + bitsPerWord - 1) / bitsPerWord) {}

    void start(int rows) {
        rows_ = rows;
        mask_.assign(static_cast<std::size_t>(wordsPerRow_) * rows, 0);
        fullRows_.assign(static_cast<std::size_t>(wordsPerRow_), 0);
        // Bits beyond the picture's right edge count as covered.
        const int spare = wordsPerRow_ * bitsPerWord - width_;
        if (spare > 0)
            for (int y = 0; y < rows; ++y)
                mask_[static_cast<std::size_t>(y) * wordsPerRow_ + wordsPerRow_ - 1] =
                    allBits << (bitsPerWord - spare);
    }

    // Whether every pixel in columns from `left` to `right` (clamped to the picture) is covered.
    bool covered(std::int64_t left, std::int64_t right) const {
        const auto first =
            static_cast<int>(std::clamp<std::int64_t>(left, 0, width_ - 1) / bitsPerWord);
        const auto last =
            static_cast<int>(std::clamp<std::int64_t>(right, 0, width_ - 1) / bitsPerWord);
        for (int column = first; column <= last; ++column)
            if (fullRows_[static_cast<std::size_t>(column)] < rows_)
                return false;
        return true;
    }

    // Sets the pixels of [left, right] on row y of the band that no newer stroke set.
    void fill(std::uint32_t* row, int y, int left, int right, std::uint32_t pixel) {
        std::uint64_t* words = mask_.data() + static_cast<std::size_t>(y) * wordsPerRow_;
        const int firstWord = left / bitsPerWord;
        const int lastWord = right / bitsPerWord;
        for (int word = firstWord; word <= lastWord; ++word) {
            std::uint64_t run = allBits;
            if (word == firstWord)
                run &= allBits << (left % bitsPerWord);
            if (word == lastWord)
                run &= allBits >> (bitsPerWord - 1 - right % bitsPerWord);
            std::uint64_t open = run & ~words[word];
            if (open == 0)
                continue;
            words[word] |= open;
            if (words[word] == allBits)
                ++fullRows_[static_cast<std::size_t>(word)];
            std::uint32_t* base = row + word * bitsPerWord;
            while (open != 0) {
                const int start = std::countr_zero(open);
                const int length = std::countr_one(open >> start);
                fillPixels(base + start, length, pixel);
                open &= length == bitsPerWord ? 0 : ~((allBits >> (bitsPerWord - length)) << start);
            }
        }
    }

private:
    int width_;
    int wordsPerRow_;
    int rows_ = 0;
    std::vector<std::uint64_t> mask_;
    std::vector<int> fullRows_;
};

// Where a stroke may set pixels on rows top to bottom: a segment widened by its pen sets no
// pixel further than the pen's width from it, so this column range (padded for rounding) holds
// them all.
void columnsNear(const TickStroke& stroke, int penWidth, std::int64_t top, std::int64_t bottom,
                 std::int64_t& left, std::int64_t& right) {
    const double x1 = stroke.from.x, y1 = stroke.from.y, x2 = stroke.to.x, y2 = stroke.to.y;
    double low = std::min(x1, x2), high = std::max(x1, x2);
    if (y1 != y2) {
        const double reachTop = static_cast<double>(top) - penWidth;
        const double reachBottom = static_cast<double>(bottom) + penWidth;
        const double slope = (x2 - x1) / (y2 - y1);
        const double yA = std::clamp(reachTop, std::min(y1, y2), std::max(y1, y2));
        const double yB = std::clamp(reachBottom, std::min(y1, y2), std::max(y1, y2));
        const double xA = x1 + (yA - y1) * slope, xB = x1 + (yB - y1) * slope;
        low = std::min(xA, xB);
        high = std::max(xA, xB);
    }
    left = static_cast<std::int64_t>(low) - penWidth - 2;
    right = static_cast<std::int64_t>(high) + penWidth + 2;
}

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

// Draws the strokes into firstBand and then each band it takes until none is left or the
// drawing stops. The calling thread passes shouldStop and asks it every few strokes.
void drawBands(const PixelSurface& picture, int penWidth, const std::vector<TickStroke>& strokes,
               int rowsPerBand, BandQueue& queue, const StopRequest* shouldStop, int firstBand) {
    BandCoverage coverage(picture.width);
    int sinceAsked = 0;
    for (int band = firstBand; band < queue.bands; band = queue.next++) {
        const int top = band * rowsPerBand;
        const int bottom = std::min(top + rowsPerBand, picture.height) - 1;
        coverage.start(bottom - top + 1);
        for (auto stroke = strokes.rbegin(); stroke != strokes.rend(); ++stroke) {
            if (shouldStop && ++sinceAsked == 32) {
                sinceAsked = 0;
                if ((*shouldStop)())
                    queue.stop = true;
            }
            if (queue.stop)
                return;
            // Rows the stroke may reach, from its end points and the pen.
            const std::int64_t reachTop =
                std::int64_t{std::min(stroke->from.y, stroke->to.y)} - penWidth;
            const std::int64_t reachBottom =
                std::int64_t{std::max(stroke->from.y, stroke->to.y)} + penWidth;
            if (reachBottom < top || reachTop > bottom)
                continue;
            std::int64_t left = 0, right = 0;
            columnsNear(*stroke, penWidth, top, bottom, left, right);
            if (right < 0 || left >= picture.width || coverage.covered(left, right))
                continue;
            StrokeRows rows(stroke->from, stroke->to, penWidth);
            const std::int64_t first = std::max<std::int64_t>(rows.firstRow(), top);
            const std::int64_t last = std::min<std::int64_t>(rows.lastRow(), bottom);
            if (first > last)
                continue;
            rows.seek(first);
            for (std::int64_t y = first; y <= last; ++y, rows.next()) {
                const RowRun run = rows.run();
                const std::int64_t runLeft = std::max<std::int64_t>(run.left, 0);
                const std::int64_t runRight = std::min<std::int64_t>(run.right, picture.width - 1);
                if (runLeft <= runRight)
                    coverage.fill(picture.row(static_cast<int>(y)), static_cast<int>(y - top),
                                  static_cast<int>(runLeft), static_cast<int>(runRight),
                                  stroke->pixel);
            }
        }
        const std::lock_guard lock(queue.mutex);
        if (++queue.done == queue.bands)
            queue.finished.notify_all();
    }
}

} // namespace

bool drawNewestFirst(const PixelSurface& picture, int penWidth,
                     const std::vector<TickStroke>& strokes, BandSplit split,
                     const StopRequest& shouldStop) {
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
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < helpers; ++i) {
            try {
                threads.emplace_back([&] {
                    drawBands(picture, penWidth, strokes, rowsPerBand, queue, nullptr,
                              queue.next++);
                });
            } catch (const std::system_error&) {
                break; // no more threads to be had: the ones there are share the bands
            }
        }
        drawBands(picture, penWidth, strokes, rowsPerBand, queue, ask, callersBand);
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

} // namespace zorblinth
