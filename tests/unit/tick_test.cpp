#include "padded_picture.hpp"
#include "saver/tick.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <set>
#include <vector>

using namespace zorblinth;
using zorblinth::test_support::frozenClock;

namespace {

struct Stroke {
    bool isBox;
    Point from, to;
    Colour colour;
};

class RecordingCanvas : public Canvas {
public:
    RecordingCanvas(int width, int height) : width_(width), height_(height) {}
    int width() const override { return width_; }
    int height() const override { return height_; }
    void line(Point from, Point to, Colour colour) override {
        strokes.push_back({false, from, to, colour});
    }
    void box(Point corner, Point opposite, Colour colour) override {
        strokes.push_back({true, corner, opposite, colour});
    }
    std::vector<Stroke> strokes;

private:
    int width_, height_;
};

const float largestDraw = 1.0f - 1.0f / 16777216.0f;

} // namespace

TEST(Tick, AreaPerLineFallsTenfoldEveryFiveLevels) {
    EXPECT_EQ(areaPerLine(5), 100000);
    EXPECT_EQ(areaPerLine(10), 10000);
    EXPECT_EQ(areaPerLine(15), 1000);
    EXPECT_EQ(areaPerLine(20), 100);
    EXPECT_EQ(areaPerLine(0), 1000000);
    EXPECT_EQ(areaPerLine(1), 630957);
    for (std::uint8_t level = 1; level < 20; ++level)
        EXPECT_GT(areaPerLine(level), areaPerLine(level + 1));
}

TEST(Tick, AreaPerLineIsRoundedToTheNearestAtEveryLevel) {
    // 10^((10 - level) / 5) * 10000 worked out to 50 digits, then rounded by hand. Levels 3, 6,
    // 7, 8, 9, 11, 13, 14 and 16 sit above a half, so rounding down would miss them.
    const std::int32_t expected[] = {630957, 398107, 251189, 158489, 100000, 63096, 39811,
                                     25119,  15849,  10000,  6310,   3981,   2512,  1585,
                                     1000,   631,    398,    251,    158,    100};
    for (std::uint8_t level = 1; level <= 20; ++level)
        EXPECT_EQ(areaPerLine(level), expected[level - 1]) << "level " << int(level);
}

TEST(Tick, LinesPerTickOnA1024By768Screen) {
    const std::pair<std::uint8_t, int> expected[] = {
        {1, 2}, {5, 8}, {10, 79}, {15, 787}, {20, 7865}};
    for (auto [level, lines] : expected)
        EXPECT_EQ(linesPerTick(1024, 768, level), lines) << "level " << int(level);
    EXPECT_EQ(linesPerTick(1920, 1080, 20), 20737);
}

TEST(Tick, CoordinatesReachTwentyPixelsBeyondEverySide) {
    for (int side : {0, 1, 768, 1024, 3840}) {
        EXPECT_EQ(randomCoordinate(side, 0.0f), -20);
        EXPECT_EQ(randomCoordinate(side, largestDraw), side + 20);
        EXPECT_EQ(randomCoordinate(side, 0.5f),
                  static_cast<int>(std::floor((side + 41) * 0.5 - 20)));
    }
}

TEST(Tick, ColoursCoverEvery24BitValue) {
    EXPECT_EQ(randomColour(0.0f), 0u);
    EXPECT_EQ(randomColour(largestDraw), 0xFFFFFFu);
    EXPECT_EQ(randomColour(0.5f), 0x800000u);
}

TEST(Tick, DrawsLinesThenOneBlackBoxInTheDrawOrder) {
    RecordingCanvas canvas(1024, 768);
    RandomSource random(frozenClock<86400>, 5);
    RandomSource replay(frozenClock<86400>, 5);
    drawTick(canvas, random, 1);

    ASSERT_EQ(canvas.strokes.size(), 3u); // level 1 on 1024 x 768: two lines, one box
    auto x = [&] { return randomCoordinate(1024, replay.draw()); };
    auto y = [&] { return randomCoordinate(768, replay.draw()); };
    for (int i = 0; i < 2; ++i) {
        const Stroke& line = canvas.strokes[i];
        EXPECT_FALSE(line.isBox);
        EXPECT_EQ(line.from.x, x());
        EXPECT_EQ(line.from.y, y());
        EXPECT_EQ(line.to.x, x());
        EXPECT_EQ(line.to.y, y());
        EXPECT_EQ(line.colour, randomColour(replay.draw()));
    }
    const Stroke& box = canvas.strokes[2];
    EXPECT_TRUE(box.isBox);
    EXPECT_EQ(box.colour, black);
    EXPECT_EQ(box.from, (Point{x(), y()}));
    EXPECT_EQ(box.to, (Point{x(), y()}));
}

TEST(Tick, LinesWithinOneClockReadingAreIndependentAndInBounds) {
    RecordingCanvas canvas(640, 480);
    RandomSource random(frozenClock<86400>, 11);
    drawTick(canvas, random, 20);
    ASSERT_EQ(canvas.strokes.size(), static_cast<std::size_t>(linesPerTick(640, 480, 20) + 1));

    std::set<std::uint32_t> colours;
    std::set<std::int32_t> startXs;
    for (const Stroke& stroke : canvas.strokes) {
        for (Point p : {stroke.from, stroke.to}) {
            ASSERT_GE(p.x, -20);
            ASSERT_LE(p.x, 660);
            ASSERT_GE(p.y, -20);
            ASSERT_LE(p.y, 500);
        }
        colours.insert(stroke.colour);
        startXs.insert(stroke.from.x);
    }
    EXPECT_GT(colours.size(), canvas.strokes.size() * 9 / 10);
    EXPECT_GT(startXs.size(), 600u); // of 681 possible x values, 3073 lines miss only a few
}

namespace {
// Takes about 50 µs a line, so that a busy tick lasts many input-check intervals.
class SlowCanvas : public RecordingCanvas {
public:
    using RecordingCanvas::RecordingCanvas;
    void line(Point from, Point to, Colour colour) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        while (std::chrono::steady_clock::now() < until) {
        }
        RecordingCanvas::line(from, to, colour);
    }
};
} // namespace

TEST(Tick, WaitingInputStopsALongTickWithinAboutAMillisecond) {
    SlowCanvas canvas(640, 480);
    RandomSource random(frozenClock<86400>, 3);
    int asked = 0;
    const bool finished = drawTick(canvas, random, 20, [&] { return ++asked == 2; });
    EXPECT_FALSE(finished);
    EXPECT_EQ(asked, 2);
    // Two checks about a millisecond apart, at 50 µs a line: some tens of lines, not 3,073.
    EXPECT_LT(canvas.strokes.size(), 200u);
    for (const Stroke& stroke : canvas.strokes)
        EXPECT_FALSE(stroke.isBox) << "a stopped tick draws no box";
}

TEST(Tick, InputIsAskedAboutNowAndThenNotForEveryLine) {
    SlowCanvas canvas(640, 480);
    RandomSource random(frozenClock<86400>, 3);
    int asked = 0;
    EXPECT_TRUE(drawTick(canvas, random, 15, [&] { return ++asked, false; }));
    EXPECT_EQ(canvas.strokes.size(), static_cast<std::size_t>(linesPerTick(640, 480, 15) + 1));
    EXPECT_GE(asked, 1); // 308 lines at 50 µs take some 15 ms
    EXPECT_LT(asked, 100);
}
