#include "tick_recording.hpp"

#include "saver/tick.hpp"

namespace zorblinth::bench {

void TickRecorder::line(Point from, Point to, Colour colour) {
    tick.lines.push_back({from, to, colour});
}

void TickRecorder::box(Point corner, Point oppositeCorner, Colour colour) {
    tick.boxCorner = corner;
    tick.boxOpposite = oppositeCorner;
    tick.boxColour = colour;
}

const RecordedTick& TickRecorder::record(RandomSource& random, std::uint8_t lineAmount) {
    tick.lines.clear();
    drawTick(*this, random, lineAmount);
    return tick;
}

} // namespace zorblinth::bench
