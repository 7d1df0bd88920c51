#pragma once

// A tick's strokes as the core's tick makes them, kept instead of drawn: what the benchmarks
// hand to other drawing code, so that it draws exactly the lines and the box the saver draws.
#include "saver/canvas.hpp"
#include "saver/random_source.hpp"

#include <cstdint>
#include <vector>

namespace zorblinth::bench {

struct RecordedLine {
    Point from, to;
    Colour colour;
};

// The lines in drawing order, then the one box.
struct RecordedTick {
    std::vector<RecordedLine> lines;
    Point boxCorner, boxOpposite;
    Colour boxColour = black;
};

// A canvas of this size that keeps what it is asked to draw. The recording is cleared on each
// record(), its storage kept.
class TickRecorder final : public Canvas {
public:
    TickRecorder(int width, int height) : width_(width), height_(height) {}

    int width() const override { return width_; }
    int height() const override { return height_; }
    void line(Point from, Point to, Colour colour) override;
    void box(Point corner, Point oppositeCorner, Colour colour) override;

    // The next tick from `random` at this level, drawn by the core's own tick.
    const RecordedTick& record(RandomSource& random, std::uint8_t lineAmount);

    RecordedTick tick;

private:
    int width_, height_;
};

} // namespace zorblinth::bench
