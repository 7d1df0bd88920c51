#pragma once

// Strokes drawn newest first against the band's coverage, each pixel written once.
// Part of the banded drawing in tick_raster.cpp, and included there alone: what lies in its
// unnamed namespace is that file's own.

#include "saver/raster/tick_coverage.hpp"
#include "saver/raster/tick_runs.hpp"
#include "saver/raster/tick_stroke_setup.hpp"

#include <optional>

namespace zorblinth {
namespace {

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

} // namespace
} // namespace zorblinth
