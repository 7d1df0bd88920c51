#include "saver/tick.hpp"

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
} // namespace

bool drawTick(Canvas& canvas, RandomSource& random, std::uint8_t lineAmount,
              const InputWaiting& inputWaiting) {
    using Clock = std::chrono::steady_clock;
    // The clock is read every few lines only: a line takes a microsecond or so.
    constexpr std::int32_t linesPerClockReading = 8;
    auto nextCheck = Clock::now() + inputCheckInterval;

    const int width = canvas.width();
    const int height = canvas.height();
    const std::int32_t lines = linesPerTick(width, height, lineAmount);
    for (std::int32_t i = 0; i < lines; ++i) {
        if (inputWaiting && i % linesPerClockReading == 0 && Clock::now() >= nextCheck) {
            if (inputWaiting())
                return false;
            nextCheck = Clock::now() + inputCheckInterval;
        }
        const Point from = randomPoint(width, height, random);
        const Point to = randomPoint(width, height, random);
        canvas.line(from, to, randomColour(random.draw()));
    }
    const Point corner = randomPoint(width, height, random);
    canvas.box(corner, randomPoint(width, height, random), black);
    return true;
}

} // namespace zorblinth
