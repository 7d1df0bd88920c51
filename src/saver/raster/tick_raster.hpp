#pragma once

#include "saver/canvas.hpp"
#include "saver/raster/pixel_surface.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zorblinth {

// One stroke of a tick with the pen's pixel value: a line, or one side of the box.
struct TickStroke {
    Point from;
    Point to;
    std::uint32_t pixel;
};

// Collects a tick's strokes in drawing order instead of drawing them, a box as the strokes
// PixelCanvas draws for it; the tick's random draws stay exactly those of drawing in order.
class StrokeList final : public Canvas {
public:
    StrokeList(int width, int height, PixelFormat format)
        : width_(width), height_(height), format_(format) {}

    int width() const override { return width_; }
    int height() const override { return height_; }
    void line(Point from, Point to, Colour colour) override;
    void box(Point corner, Point oppositeCorner, Colour colour) override;

    std::vector<TickStroke> strokes;

private:
    int width_, height_;
    PixelFormat format_;
};

// How the picture is split: bands of this many rows, shared out over this many threads; and
// whether a thin pen's strokes go in order (a one-pixel row costs less to store than to check
// against coverage bits, while the band stays in a core's cache) or newest first like wide
// ones (which pays once strokes grow long enough that most of their rows are covered).
struct BandSplit {
    int rowsPerBand;
    int threads;
    bool thinPenInOrder = true;
};

// The split for a picture this size and this pen on this machine.
BandSplit bandSplitFor(int width, int height, int penWidth);

// Asked by the calling thread now and then while strokes are drawn; true stops the drawing.
using StopRequest = std::function<bool()>;

// Leaves every pixel as drawing the strokes one after another in order through PixelCanvas
// would, a band of rows at a time so that each band's pixels stay in a core's cache while its
// strokes are drawn. Wide pens go newest first, each band setting only pixels no newer stroke
// covered (a bit a pixel), so each pixel is written at most once, and a stroke is passed over at
// once where it crosses only tiles of the band that are covered already, and row by row where
// the tiles it crosses are covered all along those rows; a thin pen's strokes
// may be drawn in order (see BandSplit). Bands are shared out over threads; only the calling thread
// asks shouldStop, and when it says yes every thread stops after its current stroke and the picture
// is left part drawn. Returns false then.
bool drawInBands(const PixelSurface& picture, int penWidth, const std::vector<TickStroke>& strokes,
                 BandSplit split, const StopRequest& shouldStop = {});

// What drawing keeps from one tick to the next: the strokes, their set-up and each thread's
// coverage, at 8K some tens of megabytes. Asked of the system afresh each tick, they came back as
// fresh pages, each a fault to fill (at 8K about 1,700 a tick). One to a saver window.
class TickWorkspace {
public:
    TickWorkspace();
    ~TickWorkspace();
    TickWorkspace(TickWorkspace&&) noexcept;
    TickWorkspace& operator=(TickWorkspace&&) noexcept;

    std::vector<TickStroke> strokes; // the tick's, in drawing order

    struct Drawing; // the rest, the drawing's own
    Drawing& drawing();

private:
    std::unique_ptr<Drawing> drawing_;
};

// Makes strokes[first] to strokes[end - 1] of a tick in place; called on any drawing thread,
// never for a stroke twice.
using StrokeMaker =
    std::function<void(std::vector<TickStroke>& strokes, std::size_t first, std::size_t end)>;

// The same, drawing the workspace's strokes, each first made by makeStrokes, a stretch at a time
// on the drawing threads: at 8K a tick's third of a million strokes take 5 ms to make on one
// core. shouldStop is asked while they are made too.
bool drawInBands(const PixelSurface& picture, int penWidth, TickWorkspace& workspace,
                 const StrokeMaker& makeStrokes, BandSplit split,
                 const StopRequest& shouldStop = {});

} // namespace zorblinth
