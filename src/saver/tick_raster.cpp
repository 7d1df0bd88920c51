#include "saver/tick_raster.hpp"

#include "saver/pixel_canvas.hpp"
#include "saver/stroke_rows.hpp"

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

constexpr unsigned bitsPerWord = 64;
constexpr std::uint64_t allBits = ~std::uint64_t{0};

// Columns of tiles that only ever fill up, and the first one at or after a given column that
// is not full yet: each full column points on past its full neighbours, and every look halves
// the way, so whether a stretch of columns is full costs about one step however long it is.
class OpenColumns {
public:
    void start(int columns) {
        next_.resize(static_cast<std::size_t>(columns) + 1); // the last one stays open
        for (int column = 0; column <= columns; ++column)
            next_[static_cast<std::size_t>(column)] = column;
    }
    void fill(int column) { next_[static_cast<std::size_t>(column)] = column + 1; }
    int firstOpen(int column) {
        while (next_[static_cast<std::size_t>(column)] != column) {
            const int further =
                next_[static_cast<std::size_t>(next_[static_cast<std::size_t>(column)])];
            next_[static_cast<std::size_t>(column)] = further;
            column = further;
        }
        return column;
    }

private:
    std::vector<int> next_;
};

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

// Which tiles of a band (a coverage word's 64 columns by tileRows rows) are covered all over,
// and for each tile which of its rows are covered all along it: a stroke crossing only covered
// tiles is then passed over without looking at its rows, and one crossing tiles with few open
// rows left looks at those rows only. Columns here are tile columns.
class TileCoverage {
public:
    static constexpr int tileRows = 16; // a bit a row in 32-bit words

    void start(int columns, int rows) {
        columns_ = columns;
        rows_ = rows;
        tileRowCount_ = (rows + tileRows - 1) / tileRows;
        fullRows_.assign(
            static_cast<std::size_t>(columns) * static_cast<std::size_t>(tileRowCount_), 0);
        fullTiles_.assign(static_cast<std::size_t>(columns), 0);
        withFullTile_.assign((static_cast<std::size_t>(columns) + bitsPerWord - 1) / bitsPerWord,
                             0);
        openTiles_.resize(static_cast<std::size_t>(tileRowCount_));
        for (OpenColumns& tileRow : openTiles_)
            tileRow.start(columns);
        openColumns_.start(columns);
    }

    // How much of the band is covered in columns first to last: all of it, none of its tiles,
    // or some.
    enum class Cover { none, some, all };
    Cover bandCover(int first, int last) {
        if (openColumns_.firstOpen(first) > last)
            return Cover::all;
        // Any full tile in those columns: a bit a column.
        const int firstWord = first / static_cast<int>(bitsPerWord);
        const int lastWord = last / static_cast<int>(bitsPerWord);
        for (int word = firstWord; word <= lastWord; ++word) {
            std::uint64_t bits = withFullTile_[static_cast<std::size_t>(word)];
            if (word == firstWord)
                bits &= allBits << (first % bitsPerWord);
            if (word == lastWord)
                bits &= allBits >> (bitsPerWord - 1 - last % bitsPerWord);
            if (bits != 0)
                return Cover::some;
        }
        return Cover::none;
    }

    // The rows of the tile row holding band row y (a bit each, from the tile row's first) on
    // which some tile in columns first to last is not covered all along.
    std::uint32_t openRows(int y, int first, int last) const {
        const int tileRow = y / tileRows;
        const std::uint32_t* full = fullRows_.data() + static_cast<std::size_t>(tileRow) * columns_;
        std::uint32_t covered = rowsOfTile(tileRow);
        for (int column = first; column <= last; ++column)
            covered &= full[column];
        return ~covered & rowsOfTile(tileRow);
    }

    // Whether every tile of the band is covered.
    bool allCovered() { return openColumns_.firstOpen(0) == columns_; }

    // Whether every tile in columns first to last of the tile row holding band row y is covered.
    bool covered(int y, int first, int last) {
        return openTiles_[static_cast<std::size_t>(y / tileRows)].firstOpen(first) > last;
    }

    // Row y has just been covered all along in this column. Seldom called: kept out of the
    // drawing's loops.
    void rowFilled(int y, unsigned column);

private:
    // The rows of a tile row, a bit each (the band's last tile row may be short).
    std::uint32_t rowsOfTile(int tileRow) const {
        const int rows = std::min(tileRows, rows_ - tileRow * tileRows);
        return (std::uint32_t{1} << rows) - 1;
    }

    int columns_ = 0;
    int rows_ = 0;
    int tileRowCount_ = 0;
    std::vector<std::uint32_t> fullRows_;     // a tile's rows covered all along it, a bit a row
    std::vector<int> fullTiles_;              // a column's covered tiles
    std::vector<std::uint64_t> withFullTile_; // a bit a column: has a covered tile
    std::vector<OpenColumns> openTiles_;      // a tile row's tiles not yet covered
    OpenColumns openColumns_;                 // columns with a tile not yet covered
};

void TileCoverage::rowFilled(int y, unsigned column) {
    const int tileRow = y / tileRows;
    std::uint32_t& full = fullRows_[static_cast<std::size_t>(tileRow) * columns_ + column];
    full |= std::uint32_t{1} << (y % tileRows);
    if (full != rowsOfTile(tileRow))
        return;
    withFullTile_[column / bitsPerWord] |= std::uint64_t{1} << (column % bitsPerWord);
    openTiles_[static_cast<std::size_t>(tileRow)].fill(static_cast<int>(column));
    if (++fullTiles_[static_cast<std::size_t>(column)] == tileRowCount_)
        openColumns_.fill(static_cast<int>(column));
}

// One band's coverage: a bit a pixel for "a newer stroke set it", and its tiles' (TileCoverage),
// a tile a coverage word wide. The bits are kept a column of words at a time, each column's words
// row after row: a stroke goes down the rows, so the words it looks at next lie next to each
// other.
class BandCoverage {
public:
    static constexpr int tileRows = TileCoverage::tileRows;
    using Cover = TileCoverage::Cover;

    explicit BandCoverage(int width)
        : width_(width), wordsPerRow_((width + bitsPerWord - 1) / bitsPerWord) {}

    int width() const { return width_; }

    void start(int rows) {
        rows_ = rows;
        mask_.assign(static_cast<std::size_t>(wordsPerRow_) * static_cast<std::size_t>(rows), 0);
        tiles_.start(wordsPerRow_, rows);
        // Bits beyond the picture's right edge count as covered; the tiles they are in fill
        // when the rest of the row does.
        const int spare = wordsPerRow_ * bitsPerWord - width_;
        if (spare > 0)
            for (int y = 0; y < rows; ++y)
                mask_[static_cast<std::size_t>(wordsPerRow_ - 1) * static_cast<std::size_t>(rows) +
                      static_cast<std::size_t>(y)] = allBits << (bitsPerWord - spare);
    }

    // The tiles' coverage (see TileCoverage) from the column of `left` to that of `right`, both
    // clamped to the picture.
    Cover bandCover(std::int64_t left, std::int64_t right) {
        const auto [first, last] = tileColumns(left, right);
        return tiles_.bandCover(first, last);
    }
    std::uint32_t openRows(int y, std::int64_t left, std::int64_t right) const {
        const auto [first, last] = tileColumns(left, right);
        return tiles_.openRows(y, first, last);
    }
    bool allCovered() { return tiles_.allCovered(); }
    bool covered(int y, std::int64_t left, std::int64_t right) {
        const auto [first, last] = tileColumns(left, right);
        return tiles_.covered(y, first, last);
    }

    // The first coverage word of the band's row y; the row's next word is columnStride() on.
    std::uint64_t* maskRow(int y) { return mask_.data() + y; }
    std::ptrdiff_t columnStride() const { return rows_; }

    // Sets pixel x on row y of the band unless a newer stroke set it; words is that row's first
    // coverage word (see maskRow). Most rows of a thin stroke are one pixel.
    void fillOne(std::uint64_t* words, std::ptrdiff_t columnStride, std::uint32_t* row, int y,
                 unsigned x, std::uint32_t pixel) {
        std::uint64_t& word = words[x / bitsPerWord * columnStride];
        const std::uint64_t bit = std::uint64_t{1} << (x % bitsPerWord);
        if ((word & bit) == 0) {
            row[x] = pixel;
            word |= bit;
            if (word == allBits) [[unlikely]]
                tiles_.rowFilled(y, x / bitsPerWord);
        }
    }

    // Sets the pixels of [left, right] on row y of the band that no newer stroke set; words is
    // that row's first coverage word (see maskRow). Columns are unsigned here: their words and bits
    // are then plain shifts and masks. Defined out of the class, so that it is not put inline in
    // fillRuns's loops, where most runs lie in one word: put there, it cost those loops 10 % more
    // instructions (8K pen 1), and GCC 12 did so or not with the size of the rest of the file.
    void fill(std::uint64_t* words, std::ptrdiff_t columnStride, std::uint32_t* row, int y,
              unsigned left, unsigned right, std::uint32_t pixel);

    // Sets the pixels no newer stroke set on `count` rows from band row y, each the run
    // runs.next() gives (one of the sources of runs in stroke_rows.hpp) clamped to
    // [0, lastColumn]; `row` is the picture's row for y, the next `stride` on. What the loop
    // steps is all its own: see the sources.
    template <class Runs>
    void fillRuns(int y, int count, Runs runs, std::uint32_t* row, std::ptrdiff_t stride,
                  std::int64_t lastColumn, std::uint32_t pixel);

private:
    // Sets the pixels from `base` whose bits are set in `open`, a stretch of consecutive ones at
    // a time.
    static void setOpen(std::uint32_t* base, std::uint64_t open, std::uint32_t pixel) {
        while (open != 0) {
            const int start = std::countr_zero(open);
            const int length = std::countr_one(open >> start);
            fillPixels(base + start, length, pixel);
            open &= length == bitsPerWord ? 0 : ~((allBits >> (bitsPerWord - length)) << start);
        }
    }

    std::pair<int, int> tileColumns(std::int64_t left, std::int64_t right) const {
        return {static_cast<int>(std::clamp<std::int64_t>(left, 0, width_ - 1) / bitsPerWord),
                static_cast<int>(std::clamp<std::int64_t>(right, 0, width_ - 1) / bitsPerWord)};
    }

    int width_;
    int wordsPerRow_;
    int rows_ = 0;
    std::vector<std::uint64_t> mask_;
    TileCoverage tiles_;
};

void BandCoverage::fill(std::uint64_t* words, std::ptrdiff_t columnStride, std::uint32_t* row,
                        int y, unsigned left, unsigned right, std::uint32_t pixel) {
    const unsigned firstWord = left / bitsPerWord;
    const unsigned lastWord = right / bitsPerWord;
    for (unsigned word = firstWord; word <= lastWord; ++word) {
        std::uint64_t run = allBits;
        if (word == firstWord)
            run &= allBits << (left % bitsPerWord);
        if (word == lastWord)
            run &= allBits >> (bitsPerWord - 1 - right % bitsPerWord);
        const std::uint64_t covered = words[word * columnStride];
        std::uint64_t open = run & ~covered;
        if (open == 0)
            continue;
        words[word * columnStride] = covered | open;
        if ((covered | open) == allBits) [[unlikely]]
            tiles_.rowFilled(y, word);
        std::uint32_t* base = row + word * bitsPerWord;
        if (open == run) {
            // Nothing newer here: the run's stretch of this word.
            const unsigned from = word == firstWord ? left % bitsPerWord : 0;
            const unsigned to = word == lastWord ? right % bitsPerWord : bitsPerWord - 1;
            fillPixels(base + from, to - from + 1, pixel);
            continue;
        }
        setOpen(base, open, pixel);
    }
}

template <class Runs>
void BandCoverage::fillRuns(int y, int count, Runs runs, std::uint32_t* row, std::ptrdiff_t stride,
                            std::int64_t lastColumn, std::uint32_t pixel) {
    std::uint64_t* words = mask_.data() + y;
    const auto columnStride = static_cast<std::size_t>(rows_);
    if constexpr (requires { Runs::onePixel; }) {
        // A pixel a row: one bit to look at.
        for (int i = 0; i < count; ++i, ++y, ++words, row += stride) {
            const std::int64_t x = runs.next().left;
            if (static_cast<std::uint64_t>(x) <= static_cast<std::uint64_t>(lastColumn))
                fillOne(words, static_cast<std::ptrdiff_t>(columnStride), row, y,
                        static_cast<unsigned>(x), pixel);
        }
        return;
    }
    for (int i = 0; i < count; ++i, ++y, ++words, row += stride) {
        const RowRun next = runs.next();
        const std::int64_t from = std::max<std::int64_t>(next.left, 0);
        const std::int64_t to = std::min(next.right, lastColumn);
        if (from > to)
            continue;
        const auto firstWord = static_cast<std::size_t>(from) / bitsPerWord;
        const auto lastWord = static_cast<std::size_t>(to) / bitsPerWord;
        if (lastWord != firstWord) {
            fill(words, static_cast<std::ptrdiff_t>(columnStride), row, y,
                 static_cast<unsigned>(from), static_cast<unsigned>(to), pixel);
            continue;
        }
        // Most runs lie in one coverage word.
        std::uint64_t& word = words[firstWord * columnStride];
        const std::uint64_t covered = word;
        const std::uint64_t run =
            (allBits << (from % bitsPerWord)) & (allBits >> (bitsPerWord - 1 - to % bitsPerWord));
        std::uint64_t open = run & ~covered;
        if (open == 0)
            continue;
        word = covered | run;
        if ((covered | run) == allBits) [[unlikely]]
            tiles_.rowFilled(y, static_cast<unsigned>(firstWord));
        if (open == run) {
            fillRun(row + from, to - from + 1, pixel);
            continue;
        }
        setOpen(row + firstWord * bitsPerWord, open, pixel);
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

// Sets rows first to last of a thin stroke too long, or with ends too far out, for the fixed
// point: stepped exactly instead.
void fillThinRowsExactly(const PixelSurface& picture, const TickStroke& stroke, std::int64_t top,
                         std::int64_t bottom) {
    const StrokeRows far(stroke.from, stroke.to, 1);
    const std::int64_t first = std::max<std::int64_t>(top, far.firstRow());
    const std::int64_t last = std::min<std::int64_t>(bottom, far.lastRow());
    if (first <= last)
        far.forEachRun(first, last,
                       [row = picture.row(static_cast<int>(first)),
                        stride = std::ptrdiff_t{picture.stride},
                        lastColumn = std::int64_t{picture.width} - 1,
                        pixel = stroke.pixel](std::int64_t, RowRun run) mutable {
                           fillClamped(row, run, lastColumn, pixel);
                           row += stride;
                       });
}

// Sets rows first to last of a thin stroke in order, within its own rows. A shallow stroke whose
// ends lie within the picture's columns lies within them on every row: nothing to cut but its own
// first and last rows, at its ends (measured at 4K: 10 % faster than cutting every row twice).
// Those rows are written out here, in the function that makes the stroke's source of runs: in a
// function of their own, pen 1 at 4K took 9 % longer on one thread.
void drawThinStrokeInOrder(const PixelSurface& picture, const TickStroke& stroke,
                           const ThinStroke& thin, std::int64_t first, std::int64_t last) {
    const std::int64_t lastColumn = picture.width - 1;
    // Kept in locals: stores of pixels may alias the surface's and the stroke's fields, which
    // would otherwise be read again after every store.
    const std::ptrdiff_t stride = picture.stride;
    const std::uint32_t pixel = stroke.pixel;
    const bool withinColumns = std::min(stroke.from.x, stroke.to.x) >= 0 &&
                               std::max(stroke.from.x, stroke.to.x) <= lastColumn;
    thin.useRunsFrom(first, [&](auto runs) {
        std::uint32_t* row = picture.row(static_cast<int>(first));
        if constexpr (requires { runs.nextBetweenEnds(); }) {
            if (withinColumns) {
                std::int64_t y = first;
                if (y == thin.firstRow()) {
                    const RowRun run = runs.next();
                    if (!run.empty())
                        fillRun(row + run.left, run.right - run.left + 1, pixel);
                    row += stride;
                    ++y;
                }
                const std::int64_t between = std::min(last, thin.lastRow() - 1);
                const auto rowsBetween = [&](auto fill) {
                    for (; y <= between; ++y, row += stride) {
                        const RowRun run = runs.nextBetweenEnds();
                        fill(row, run.left, run.right);
                    }
                };
                // Between its ends a stroke's runs are all q or q + 1 pixels long, q its whole
                // columns a row: the stores that cover those lengths, with no choice to make a
                // row (measured at 4K: 7 % faster than choosing by each length).
                const std::int64_t q = runs.wholeColumnsPerRow();
                if (q == 1) {
                    rowsBetween([pixel](std::uint32_t* at, std::int64_t left, std::int64_t right) {
                        at[left] = pixel;
                        at[right] = pixel;
                    });
                } else if (q < 4) {
                    rowsBetween([pixel](std::uint32_t* at, std::int64_t left, std::int64_t right) {
                        at[left] = pixel;
                        at[left + 1] = pixel;
                        at[right - 1] = pixel;
                        at[right] = pixel;
                    });
                } else if (q < 8) {
                    rowsBetween([pixel](std::uint32_t* at, std::int64_t left, std::int64_t right) {
                        const std::uint32_t quad[4] = {pixel, pixel, pixel, pixel};
                        std::memcpy(at + left, quad, sizeof quad);
                        std::memcpy(at + right - 3, quad, sizeof quad);
                    });
                } else {
                    rowsBetween([pixel](std::uint32_t* at, std::int64_t left, std::int64_t right) {
                        fillRun(at + left, right - left + 1, pixel);
                    });
                }
                if (y <= last) {
                    const RowRun run = runs.next();
                    if (!run.empty())
                        fillRun(row + run.left, run.right - run.left + 1, pixel);
                }
                return;
            }
        }
        fillRunsInOrder(static_cast<int>(last - first + 1), runs, row, stride, lastColumn, pixel);
    });
}

// A band's thin strokes in order (see BandSplit), rows top to bottom of the picture: each
// straight from its set-up, with nothing else to look up. Returns false when the drawing stops
// (`stopped` says so, asked before each stroke).
template <class Stopped>
bool drawThinBandInOrder(const PixelSurface& picture, const std::vector<TickStroke>& strokes,
                         const std::vector<ThinStroke>& thin, const std::uint32_t* inBand,
                         std::size_t reaching, int top, int bottom, Stopped stopped) {
    for (std::size_t i = 0; i < reaching; ++i) {
        if (stopped())
            return false;
        const std::size_t index = inBand[i];
        if (thin[index].empty()) {
            fillThinRowsExactly(picture, strokes[index], top, bottom);
            continue;
        }
        const std::int64_t first = std::max<std::int64_t>(top, thin[index].firstRow());
        const std::int64_t last = std::min<std::int64_t>(bottom, thin[index].lastRow());
        if (first <= last)
            drawThinStrokeInOrder(picture, strokes[index], thin[index], first, last);
    }
    return true;
}

// A band's strokes newest first, each setting only the pixels no newer stroke covered (a bit a
// pixel), so each pixel is written at most once. Where a stroke lies against the coverage
// decides how much of it is walked: none where it crosses only covered tiles, only its open rows
// where the tiles it crosses are covered all along some rows, else all of it. One to a drawing
// thread, band after band. A thin pen has a way of its own (drawThin), kept out of the other
// pens' code.
template <bool thinNewestFirst> class NewestFirstBands {
public:
    NewestFirstBands(const PixelSurface& picture, int penWidth,
                     const std::vector<TickStroke>& strokes, StrokeSetUps& setUps,
                     BandCoverage& coverage)
        : picture_(picture), penWidth_(penWidth), strokes_(strokes), setUps_(setUps),
          coverage_(coverage), lastColumn_(picture.width - 1), stride_(picture.stride) {}

    // Draws rows top to bottom with the strokes listed in inBand (in drawing order). Returns
    // false when the drawing stops (`stopped` says so, asked before each stroke).
    template <class Stopped>
    bool drawBand(int top, int bottom, const std::uint32_t* inBand, std::size_t reaching,
                  Stopped stopped) {
        top_ = top;
        bottom_ = bottom;
        coverage_.start(bottom - top + 1);
        for (std::size_t i = 0; i < reaching; ++i) {
            const std::size_t index = inBand[reaching - 1 - i];
            if (stopped())
                return false;
            // A band covered all over takes nothing more from older strokes.
            if (coverage_.allCovered())
                break;
            drawStroke(index);
        }
        return true;
    }

private:
    using Cover = BandCoverage::Cover;

    // The stroke on the rows of the band it may reach: a thin one newest first by its exact
    // columns, any other by its open rows, unless even the columns near it are covered.
    void drawStroke(std::size_t index) {
        index_ = index;
        stroke_ = &strokes_[index];
        rows_.reset();
        const StrokeReach& reach = setUps_.reaches[index];
        const int first = std::max<int>(reach.top, top_);
        const int last = std::min<int>(reach.bottom, bottom_);
        if constexpr (thinNewestFirst) {
            if (!setUps_.thin[index].empty()) {
                drawThin(setUps_.thin[index], first, last);
                return;
            }
        }
        // Passed over at once where even the columns near it are covered: no set-up.
        if (setUps_.middlesWhenNeeded && coverOver(columnsNearStroke(first, last)) == Cover::all)
            return;
        drawOpenRows(first, last);
    }

    // A thin stroke newest first: its exact columns on a stretch of rows cost two
    // multiplications, so it is held against the coverage tile row by tile row with those, and
    // only its rows still open there are walked.
    void drawThin(const ThinStroke& thin, std::int64_t first, std::int64_t last) {
        first = std::max(first, thin.firstRow());
        last = std::min(last, thin.lastRow());
        if (first > last)
            return;
        const RowRun all = thin.columnsOver(first, last);
        const Cover cover = all.empty() ? Cover::all : coverOver(all);
        if (cover == Cover::all)
            return;
        if (cover == Cover::none) {
            fillThinRows(thin, first, last);
            return;
        }
        OpenStretches stretches(
            [&](std::int64_t from, std::int64_t to) { fillThinRows(thin, from, to); });
        forEachTileRow(first, last, [&](std::int64_t from, std::int64_t to, std::int64_t tileTop) {
            const RowRun columns = thin.columnsOver(from, to);
            if (!columns.empty() && !offPicture(columns))
                stretches.take(from, openRowsOf(from, to, tileTop, columns));
        });
        stretches.finish();
    }

    // Rows first to last of any other stroke: held against the coverage with its exact columns
    // where the rows lie within a wide stroke's middle, else with the columns near it, first all
    // at once and then tile row by tile row.
    void drawOpenRows(std::int64_t first, std::int64_t last) {
        const WideMiddle* middle = wideMiddle();
        const Cover cover = coverOver(columnsOf(middle, first, last));
        if (cover == Cover::all)
            return;
        if (cover == Cover::none) {
            // No covered tile to pass over: not worth looking for one a tile row at a time.
            drawRows(first, last);
            return;
        }
        OpenStretches stretches([&](std::int64_t from, std::int64_t to) { drawRows(from, to); });
        forEachTileRow(first, last, [&](std::int64_t from, std::int64_t to, std::int64_t tileTop) {
            const RowRun columns = columnsOf(middle, from, to);
            if (offPicture(columns) ||
                coverage_.covered(static_cast<int>(from - top_), columns.left, columns.right))
                return;
            stretches.take(from, openRowsOf(from, to, tileTop, columns));
        });
        stretches.finish();
    }

    // Whether columns lie left or right of the picture.
    bool offPicture(RowRun columns) const {
        return columns.right < 0 || columns.left > lastColumn_;
    }

    // How much of the band is covered in `columns` (see TileCoverage): all of it where they lie
    // off the picture.
    Cover coverOver(RowRun columns) {
        return offPicture(columns) ? Cover::all : coverage_.bandCover(columns.left, columns.right);
    }

    // Calls visit(from, to, tileTop) for the stretch of rows first to last on each tile row of
    // the band, tileTop that tile row's first.
    template <class Visit>
    void forEachTileRow(std::int64_t first, std::int64_t last, Visit visit) const {
        constexpr int tileRows = BandCoverage::tileRows;
        for (std::int64_t tileTop = top_ + (first - top_) / tileRows * tileRows; tileTop <= last;
             tileTop += tileRows)
            visit(std::max(tileTop, first), std::min(tileTop + tileRows - 1, last), tileTop);
    }

    // The rows from `from` to `to` of the tile row from tileTop with a pixel open in `columns`,
    // a bit each from `from`.
    std::uint32_t openRowsOf(std::int64_t from, std::int64_t to, std::int64_t tileTop,
                             RowRun columns) const {
        return coverage_.openRows(static_cast<int>(from - top_), columns.left, columns.right) >>
                   (from - tileTop) &
               ((std::uint32_t{2} << (to - from)) - 1);
    }

    // Where the rows lie within a wide stroke's middle, its exact columns there; else the
    // columns near it.
    RowRun columnsOf(const WideMiddle* middle, std::int64_t first, std::int64_t last) const {
        if (middle && first >= middle->middleFirst() && last <= middle->middleLast())
            return middle->columnsOver(first, last);
        return columnsNearStroke(first, last);
    }

    // See columnsNear.
    RowRun columnsNearStroke(std::int64_t first, std::int64_t last) const {
        return columnsNear(*stroke_, setUps_.columnsPerRow[index_], penWidth_, first, last);
    }

    // Rows first to last of the stroke (clamped to its own), the way the band draws. A thin
    // stroke, and a wide stroke's middle rows, set up beforehand start in each band at once; a
    // wide stroke's rows near the ends, and strokes not set up beforehand, are set up in each
    // band they are drawn in. Looked up only here: most strokes a band takes up are passed over.
    void drawRows(std::int64_t first, std::int64_t last) {
        const ThinStroke* thin =
            setUps_.thin.empty() || setUps_.thin[index_].empty() ? nullptr : &setUps_.thin[index_];
        if (const WideMiddle* middle = wideMiddle()) {
            drawAroundMiddle(*middle, first, last);
            return;
        }
        first = std::max(first, thin ? thin->firstRow() : strokeRows().firstRow());
        last = std::min(last, thin ? thin->lastRow() : strokeRows().lastRow());
        if (first > last)
            return;
        if (thin)
            fillThinRows(*thin, first, last);
        else
            strokeRows().forEachRun(first, last, newestFirstFrom(first));
    }

    // A wide stroke's rows first to last: its middle ones from the middle's set-up, the rows
    // before and after them (the stroke's ends, or none of its) from StrokeRows.
    void drawAroundMiddle(const WideMiddle& middle, std::int64_t first, std::int64_t last) {
        const std::int64_t middleFirst = std::max(first, middle.middleFirst());
        const std::int64_t middleLast = std::min(last, middle.middleLast());
        const auto ends = [&](std::int64_t from, std::int64_t to) {
            from = std::max(from, strokeRows().firstRow());
            to = std::min(to, strokeRows().lastRow());
            if (from <= to)
                strokeRows().forEachRun(from, to, newestFirstFrom(from));
        };
        if (middleFirst > middleLast) {
            ends(first, last);
            return;
        }
        if (first < middleFirst)
            ends(first, middleFirst - 1);
        coverage_.fillRuns(
            static_cast<int>(middleFirst - top_), static_cast<int>(middleLast - middleFirst + 1),
            middle.runsFrom(middleFirst), picture_.row(static_cast<int>(middleFirst)), stride_,
            lastColumn_, stroke_->pixel);
        if (middleLast < last)
            ends(middleLast + 1, last);
    }

    // A thin stroke's rows first to last, within its own, from its set-up.
    void fillThinRows(const ThinStroke& thin, std::int64_t first, std::int64_t last) {
        thin.useRunsFrom(first, [&](auto runs) {
            coverage_.fillRuns(static_cast<int>(first - top_), static_cast<int>(last - first + 1),
                               runs, picture_.row(static_cast<int>(first)), stride_, lastColumn_,
                               stroke_->pixel);
        });
    }

    // A visitor of StrokeRows's runs from row `first` on. Rows come one after another: pointers
    // step along with them from the first. What it needs is copied into it: behind a reference,
    // the pen's pixel value would be read again after every store (the stores could alias it).
    auto newestFirstFrom(std::int64_t first) {
        const int firstBandRow = static_cast<int>(first) - top_;
        return [&coverage = coverage_, pictureRow = picture_.row(static_cast<int>(first)),
                maskRow = coverage_.maskRow(firstBandRow), bandRow = firstBandRow, stride = stride_,
                columnStride = coverage_.columnStride(), lastColumn = lastColumn_,
                pixel = stroke_->pixel](std::int64_t, RowRun run) mutable {
            if (run.left == run.right) {
                if (static_cast<std::uint64_t>(run.left) <= static_cast<std::uint64_t>(lastColumn))
                    coverage.fillOne(maskRow, columnStride, pictureRow, bandRow,
                                     static_cast<unsigned>(run.left), pixel);
            } else {
                const std::int64_t left = std::max<std::int64_t>(run.left, 0);
                const std::int64_t right = std::min(run.right, lastColumn);
                if (left <= right)
                    coverage.fill(maskRow, columnStride, pictureRow, bandRow,
                                  static_cast<unsigned>(left), static_cast<unsigned>(right), pixel);
            }
            pictureRow += stride;
            ++maskRow;
            ++bandRow;
        };
    }

    // A wide stroke's middle rows, set up once a tick, if it has them.
    const WideMiddle* wideMiddle() {
        if (!setUps_.wide())
            return nullptr;
        const WideMiddle* middle = setUps_.middleSetUp(index_);
        if (!middle)
            middle = &setUps_.setUpMiddleOnce(index_, strokeRows(), ownMiddle_);
        return middle->empty() ? nullptr : middle;
    }

    // The stroke's rows, set up where the band first needs them, at most once a stroke.
    const StrokeRows& strokeRows() {
        if (!rows_)
            rows_.emplace(stroke_->from, stroke_->to, penWidth_);
        return *rows_;
    }

    const PixelSurface& picture_;
    const int penWidth_;
    const std::vector<TickStroke>& strokes_;
    StrokeSetUps& setUps_;
    BandCoverage& coverage_;
    const std::int64_t lastColumn_;
    // Kept apart from the surface: stores of pixels may alias its fields.
    const std::ptrdiff_t stride_;
    int top_ = 0, bottom_ = -1; // the band's rows
    // The stroke being drawn.
    std::size_t index_ = 0;
    const TickStroke* stroke_ = nullptr;
    // Kept from stroke to stroke and emptied for each: made anew for each, its storage was
    // cleared each time (a third of a kilobyte), though most strokes never set it up.
    std::optional<StrokeRows> rows_;
    WideMiddle ownMiddle_; // a stroke's middle set up while another thread sets up the same
};

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
