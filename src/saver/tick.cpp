#include "saver/tick.hpp"

#include "saver/raster/tick_raster.hpp"

#include <algorithm>
#include <cmath>

namespace zorblinth {

std::int32_t areaPerLine(std::uint8_t lineAmount) {
    const std::int16_t d = static_cast<std::int16_t>(10 - lineAmount);
    // nearbyint rounds in the default mode: to nearest, ties to even.
    return static_cast<std::int32_t>(std::nearbyint(std::pow(10.0, d / 5.0) * 10000.0));
}

std::int32_t linesPerTick(int width, int height, std::uint8_t lineAmount) {
    const std::int32_t area = width * height;
    return area / areaPerLine(lineAmount) + 1;
}

std::int32_t randomCoordinate(int sideLength, float draw) {
    // A draw is k / 2^24 exactly, so floor((L + 41) * draw - 20) is an integer product shifted
    // right: exact, and cheaper than floating point five times a line.
    const auto k = static_cast<std::int64_t>(draw * 16777216.0f);
    return static_cast<std::int32_t>(((sideLength + 41) * k) >> 24) - 20;
}

Colour randomColour(float draw) {
    return static_cast<Colour>(draw * 16777216.0);
}

namespace {
Point randomPoint(int width, int height, RandomSource& random) {
    const std::int32_t x = randomCoordinate(width, random.draw());
    return {x, randomCoordinate(height, random.draw())};
}

// A line's draws: x1, y1, x2, y2, colour.
constexpr std::uint64_t drawsPerLine = 5;

struct RandomLine {
    Point from;
    Point to;
    Colour colour;
};

RandomLine randomLine(int width, int height, RandomSource& random) {
    const Point from = randomPoint(width, height, random);
    const Point to = randomPoint(width, height, random);
    return {from, to, randomColour(random.draw())};
}
} // namespace

namespace {
// Decides when a tick asks whether input waits: about once every inputCheckInterval. The clock
// itself is read only every few lines, as many as take some tenths of the interval: a line
// takes from under a microsecond to tens of them, and a clock reading from nanoseconds to a
// microsecond or two (under Wine).
class InputCheckSchedule {
public:
    using Clock = std::chrono::steady_clock;

    bool due(std::int32_t line) {
        if (line < nextReading_)
            return false;
        const auto now = Clock::now();
        const auto sinceLast = now - lastReading_;
        if (sinceLast < inputCheckInterval / 8)
            linesBetweenReadings_ = std::min(linesBetweenReadings_ * 2, 4096);
        else if (sinceLast > inputCheckInterval / 2)
            linesBetweenReadings_ = std::max(linesBetweenReadings_ / 2, 1);
        lastReading_ = now;
        nextReading_ = line + linesBetweenReadings_;
        return now >= nextCheck_;
    }

    // After asking: the next question comes an interval from now.
    void asked() { nextCheck_ = Clock::now() + inputCheckInterval; }

private:
    Clock::time_point lastReading_ = Clock::now();
    Clock::time_point nextCheck_ = lastReading_ + inputCheckInterval;
    std::int32_t linesBetweenReadings_ = 1;
    std::int32_t nextReading_ = 0;
};
} // namespace

bool drawTick(Canvas& canvas, RandomSource& random, std::uint8_t lineAmount,
              const InputWaiting& inputWaiting) {
    InputCheckSchedule schedule;
    const int width = canvas.width();
    const int height = canvas.height();
    const std::int32_t lines = linesPerTick(width, height, lineAmount);
    for (std::int32_t i = 0; i < lines; ++i) {
        if (inputWaiting && schedule.due(i)) {
            if (inputWaiting())
                return false;
            schedule.asked();
        }
        const RandomLine line = randomLine(width, height, random);
        canvas.line(line.from, line.to, line.colour);
    }
    const Point corner = randomPoint(width, height, random);
    canvas.box(corner, randomPoint(width, height, random), black);
    return true;
}

bool drawTick(const PixelSurface& picture, int penWidth, RandomSource& random,
              std::uint8_t lineAmount, const InputWaiting& inputWaiting) {
    TickWorkspace workspace;
    return drawTick(picture, penWidth, random, lineAmount, workspace, inputWaiting);
}

bool drawTick(const PixelSurface& picture, int penWidth, RandomSource& random,
              std::uint8_t lineAmount, TickWorkspace& workspace, const InputWaiting& inputWaiting) {
    // The strokes first, with the same draws as drawing them one by one; then the pixels, band by
    // band over every core, as the last stroke over each leaves it. The box's draws follow all
    // the lines', so its strokes are made first, and the lines' then in stretches on every core,
    // each stretch from its own place in the draws (the draws of a tick are the same whichever
    // thread takes them; only the clock is read at other moments within the tick).
    const int width = picture.width;
    const int height = picture.height;
    const std::int32_t lines = linesPerTick(width, height, lineAmount);
    const auto lineCount = static_cast<std::size_t>(lines);
    RandomSource afterLines = random.ahead(drawsPerLine * lineCount);
    StrokeList box(width, height, picture.format);
    const Point corner = randomPoint(width, height, afterLines);
    box.box(corner, randomPoint(width, height, afterLines), black);
    std::vector<TickStroke>& strokes = workspace.strokes;
    strokes.resize(lineCount);
    strokes.insert(strokes.end(), box.strokes.begin(), box.strokes.end());
    const auto makeLines = [&](std::vector<TickStroke>& made, std::size_t first, std::size_t end) {
        RandomSource draws = random.ahead(drawsPerLine * first);
        for (std::size_t i = first; i < std::min(end, lineCount); ++i) {
            const RandomLine line = randomLine(width, height, draws);
            made[i] = {line.from, line.to, pixelFromColour(line.colour, picture.format)};
        }
    };
    StopRequest stop;
    InputCheckSchedule schedule;
    std::int32_t requests = 0;
    if (inputWaiting)
        stop = [&] {
            if (!schedule.due(requests++))
                return false;
            if (inputWaiting())
                return true;
            schedule.asked();
            return false;
        };
    const bool drawn = drawInBands(picture, penWidth, workspace, makeLines,
                                   bandSplitFor(width, height, penWidth), stop);
    random = afterLines;
    return drawn;
}

} // namespace zorblinth
