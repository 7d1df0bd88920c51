#include "saver/raster/pixel_canvas.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

using namespace zorblinth;

namespace {

constexpr std::uint32_t background = 0x00FFFFFF;
constexpr std::uint32_t guard = 0xDEADBEEF;
constexpr int margin = 8;

// A surface inside a larger buffer whose border and row padding must never be written.
class GuardedSurface {
public:
    GuardedSurface(int width, int height, PixelFormat format = xrgbPixels)
        : width_(width), height_(height), stride_(width + 2 * margin + 3),
          buffer_(static_cast<std::size_t>(stride_) * (height + 2 * margin), guard) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                at(x, y) = background;
        surface_ = {&at(0, 0), width, height, stride_, format};
    }

    const PixelSurface& surface() const { return surface_; }
    std::uint32_t& at(int x, int y) { return buffer_[(y + margin) * stride_ + x + margin]; }

    bool guardIntact() const {
        for (int y = -margin; y < height_ + margin; ++y)
            for (int x = -margin; x < stride_ - margin; ++x) {
                const bool inside = x >= 0 && y >= 0 && x < width_ && y < height_;
                if (!inside && buffer_[(y + margin) * stride_ + x + margin] != guard)
                    return false;
            }
        return true;
    }

    std::set<std::pair<int, int>> drawn() {
        std::set<std::pair<int, int>> pixels;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                if (at(x, y) != background)
                    pixels.insert({x, y});
        return pixels;
    }

private:
    int width_, height_, stride_;
    std::vector<std::uint32_t> buffer_;
    PixelSurface surface_;
};

std::set<std::pair<int, int>> lineOn(GuardedSurface& surface, int penWidth, Point from, Point to) {
    PixelCanvas(surface.surface(), penWidth).line(from, to, 0);
    return surface.drawn();
}

std::set<std::pair<int, int>> thinLine(Point from, Point to) {
    GuardedSurface surface(64, 48);
    return lineOn(surface, 1, from, to);
}

using Pixels = std::set<std::pair<int, int>>;

} // namespace

TEST(PixelCanvas, ThinLinesSetTheStartAndLeaveTheEndOut) {
    EXPECT_EQ(thinLine({2, 3}, {6, 3}), (Pixels{{2, 3}, {3, 3}, {4, 3}, {5, 3}}));
    EXPECT_EQ(thinLine({6, 3}, {2, 3}), (Pixels{{6, 3}, {5, 3}, {4, 3}, {3, 3}}));
    EXPECT_EQ(thinLine({4, 9}, {4, 6}), (Pixels{{4, 9}, {4, 8}, {4, 7}}));
    EXPECT_EQ(thinLine({0, 0}, {4, 2}), (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    EXPECT_EQ(thinLine({5, 5}, {5, 5}), Pixels{});
}

TEST(PixelCanvas, ThinLinesSetTheSamePixelsInEitherDirection) {
    // GDI breaks Bresenham's ties so that a line and its reverse differ only in the end left
    // out; the wrong tie-break in any octant shows up here.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> x(-10, 73), y(-10, 57);
    for (int i = 0; i < 3000; ++i) {
        const Point a{x(random), y(random)}, b{x(random), y(random)};
        if (a == b)
            continue;
        Pixels forward = thinLine(a, b), backward = thinLine(b, a);
        forward.erase({a.x, a.y});
        backward.erase({b.x, b.y});
        ASSERT_EQ(forward, backward) << a.x << "," << a.y << " - " << b.x << "," << b.y;
    }
}

TEST(PixelCanvas, ClippingNeverChangesThePixelsInside) {
    // The same strokes on a small surface and, shifted, in the middle of a large one: inside
    // the small one's area both must agree pixel for pixel, at every width.
    constexpr int width = 40, height = 30, offset = 60;
    std::uniform_int_distribution<int> x(-25, width + 25), y(-25, height + 25);
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 random(seed);
        for (int penWidth = 1; penWidth <= 10; ++penWidth)
            for (int i = 0; i < 25; ++i) {
                const Point a{x(random), y(random)}, b{x(random), y(random)};
                GuardedSurface small(width, height), large(width + 2 * offset, height + 2 * offset);
                PixelCanvas(small.surface(), penWidth).line(a, b, 0);
                PixelCanvas(large.surface(), penWidth)
                    .line({a.x + offset, a.y + offset}, {b.x + offset, b.y + offset}, 0);
                for (int py = 0; py < height; ++py)
                    for (int px = 0; px < width; ++px)
                        ASSERT_EQ(small.at(px, py), large.at(px + offset, py + offset))
                            << "seed " << seed << ", width " << penWidth << ", " << a.x << ","
                            << a.y << " - " << b.x << "," << b.y << " at " << px << "," << py;
                ASSERT_TRUE(small.guardIntact());
            }
    }
}

TEST(PixelCanvas, AnyThirtyTwoBitEndPointsStayInsideTheBuffer) {
    constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
    const std::int32_t values[] = {low, low + 1, -100000, -1, 0, 5, 31, 32, 100000, high - 1, high};
    for (int penWidth : {1, 2, 7, 10}) {
        GuardedSurface surface(32, 24);
        PixelCanvas canvas(surface.surface(), penWidth);
        for (std::int32_t ax : values)
            for (std::int32_t ay : values)
                for (std::int32_t bx : {low, 3, high})
                    for (std::int32_t by : {low, 20, high}) {
                        canvas.line({ax, ay}, {bx, by}, 0x123456);
                        canvas.box({ax, ay}, {bx, by}, 0);
                    }
        EXPECT_TRUE(surface.guardIntact()) << "width " << penWidth;
    }

    // Lines that cross the surface from the far ends of the range still land where they must.
    GuardedSurface surface(32, 24);
    PixelCanvas canvas(surface.surface(), 1);
    canvas.line({low, 5}, {high, 5}, 0);
    canvas.line({low, low}, {high, high}, 0);
    for (int x = 0; x < 32; ++x)
        EXPECT_NE(surface.at(x, 5), background) << x;
    for (int k = 0; k < 24; ++k)
        EXPECT_NE(surface.at(k, k), background) << k;
}

TEST(PixelCanvas, WidePensCoverTheirWidthWithRoundEnds) {
    for (int penWidth = 2; penWidth <= 10; ++penWidth) {
        SCOPED_TRACE(penWidth);
        GuardedSurface surface(64, 48);
        const Pixels drawn = lineOn(surface, penWidth, {20, 24}, {40, 24});
        // Even widths have no middle row: the extra one lies above the line.
        const int top = 24 - penWidth / 2;
        for (int y = 0; y < 48; ++y)
            EXPECT_EQ(drawn.count({30, y}), y >= top && y < top + penWidth ? 1u : 0u) << y;
        // The round ends reach half the width beyond the end points, on the line's axis only.
        EXPECT_TRUE(drawn.count({20 - (penWidth - 1) / 2, 24}));
        EXPECT_TRUE(drawn.count({40 + (penWidth - 1) / 2, 24}));
        if (penWidth >= 7) {
            EXPECT_FALSE(drawn.count({20 - (penWidth - 1) / 2, top})) << "a square corner";
        }
        EXPECT_FALSE(drawn.count({20 - penWidth, 24}));
        EXPECT_FALSE(drawn.count({40 + penWidth, 24}));
    }
}

TEST(PixelCanvas, WidePensAreAsWideAcrossASlantedLine) {
    // A 4:3 line crosses each row over width / sin(angle) = width * 5 / 3 pixels.
    for (int penWidth : {3, 6, 10}) {
        GuardedSurface surface(64, 64);
        const Pixels drawn = lineOn(surface, penWidth, {8, 8}, {48, 38});
        int run = 0;
        for (int x = 0; x < 64; ++x)
            run += drawn.count({x, 23}) ? 1 : 0;
        EXPECT_NEAR(run, penWidth * 5.0 / 3.0, 1.0) << penWidth;
    }
}

TEST(PixelCanvas, AZeroLengthWideLineLeavesADot) {
    GuardedSurface surface(20, 20);
    const Pixels drawn = lineOn(surface, 5, {10, 10}, {10, 10});
    EXPECT_TRUE(drawn.count({10, 10}));
    EXPECT_TRUE(drawn.count({8, 10}) && drawn.count({12, 10}) && drawn.count({10, 8}));
    EXPECT_FALSE(drawn.count({13, 10}));
}

TEST(PixelCanvas, BoxIsAClosedOutlineWhateverTheCornerOrder) {
    for (int penWidth : {1, 3}) {
        SCOPED_TRACE(penWidth);
        GuardedSurface surface(40, 30);
        PixelCanvas(surface.surface(), penWidth).box({30, 25}, {8, 4}, 0);
        for (int x = 8; x <= 30; ++x) {
            EXPECT_EQ(surface.at(x, 4), 0u) << x;
            EXPECT_EQ(surface.at(x, 25), 0u) << x;
        }
        for (int y = 4; y <= 25; ++y) {
            EXPECT_EQ(surface.at(8, y), 0u) << y;
            EXPECT_EQ(surface.at(30, y), 0u) << y;
        }
        EXPECT_EQ(surface.at(19, 14), background);
    }
    GuardedSurface thin(40, 30);
    PixelCanvas(thin.surface(), 1).box({30, 25}, {8, 4}, 0);
    EXPECT_EQ(thin.drawn().size(), 2u * (22 + 21)) << "a one-pixel outline and nothing more";
}

TEST(PixelCanvas, DegenerateBoxesStillLeaveTheirLineOrDot) {
    for (int penWidth : {1, 4}) {
        SCOPED_TRACE(penWidth);
        GuardedSurface surface(40, 30);
        PixelCanvas canvas(surface.surface(), penWidth);
        canvas.box({10, 5}, {10, 20}, 0);
        canvas.box({35, 25}, {15, 25}, 0);
        canvas.box({30, 10}, {30, 10}, 0);
        for (int y = 5; y <= 20; ++y)
            EXPECT_EQ(surface.at(10, y), 0u) << y;
        for (int x = 15; x <= 35; ++x)
            EXPECT_EQ(surface.at(x, 25), 0u) << x;
        EXPECT_EQ(surface.at(30, 10), 0u);
    }
    GuardedSurface surface(8, 8);
    PixelCanvas(surface.surface(), 1).box({3, 4}, {3, 4}, 0);
    EXPECT_EQ(surface.drawn(), (Pixels{{3, 4}}));
}

TEST(PixelCanvas, ColoursLandInTheSurfacesOwnPixelOrder) {
    const Colour orange = 0x000080FF; // 0x00BBGGRR: red FF, green 80, blue 00
    GuardedSurface windows(4, 4), reversed(4, 4, PixelFormat{0, 8, 16});
    PixelCanvas(windows.surface(), 1).line({0, 1}, {4, 1}, orange);
    PixelCanvas(reversed.surface(), 1).line({0, 1}, {4, 1}, orange);
    EXPECT_EQ(windows.at(2, 1), 0x00FF8000u);
    EXPECT_EQ(reversed.at(2, 1), 0x000080FFu);
    EXPECT_EQ(colourFromPixel(windows.at(2, 1), xrgbPixels), orange);
}
