#pragma once

// A band's coverage: which pixels, tile rows and tiles newer strokes have set already.
// Part of the banded drawing in tick_raster.cpp, and included there alone: what lies in its
// unnamed namespace is that file's own.

#include "saver/raster/tick_runs.hpp"

#include <bit>
#include <cstdint>
#include <vector>

namespace zorblinth {
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

} // namespace
} // namespace zorblinth
