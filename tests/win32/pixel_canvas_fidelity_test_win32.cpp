// PixelCanvas against GDI's own pens, under Wine: the same random strokes drawn both ways on
// cleared 32-bit DIB sections, one stroke at a time so that no overlap hides a difference.
// Width 1 must match pixel for pixel; wider pens may differ only along their edges.
#include <windows.h>

#include "gdi_canvas_win32.hpp"
#include "platform/gdi_handles_win32.hpp"
#include "saver/win32/dib_section_win32.hpp"
#include "saver/raster/pixel_canvas.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace zorblinth;
using namespace zorblinth::win32;

constexpr int surfaceWidth = 160;
constexpr int surfaceHeight = 120;
// How far outside the surface end points reach, as the saver's own do.
constexpr int reach = 20;
constexpr int linesPerWidth = 500;
constexpr int boxesPerWidth = 40;
constexpr int degenerateBoxesPerKind = 10;
// Neither GDI nor PixelCanvas writes the top byte of a pixel, so no stroke can look like this.
constexpr std::uint32_t background = 0xFF808080;
// At most this share of the pixels set by either may lie more than a pixel from the other's.
constexpr double farShareAllowed = 0.001;

struct Stroke {
    Point from, to;
    Colour colour;
    bool isBox;
};

std::string describe(const Stroke& stroke) {
    std::ostringstream text;
    text << (stroke.isBox ? "box " : "line ") << "(" << stroke.from.x << ", " << stroke.from.y
         << ") to (" << stroke.to.x << ", " << stroke.to.y << ")";
    return text.str();
}

// A small 32-bit DIB section that GDI draws on through its DC and we read and clear directly.
class DibSurface {
public:
    DibSurface()
        : dc_(CreateCompatibleDC(nullptr)),
          dib_(topDownDibSection(dc_.get(), surfaceWidth, surfaceHeight)),
          selection_(dc_.get(), dib_.bitmap.get()) {}

    bool ready() const { return dc_ && dib_; }
    HDC dc() const { return dc_.get(); }
    // GDI's pending strokes are finished before the bits are touched.
    const PixelSurface& pixels() const {
        GdiFlush();
        return dib_.pixels;
    }
    void clear() const {
        const PixelSurface& surface = pixels();
        for (int y = 0; y < surface.height; ++y)
            std::fill_n(surface.row(y), surface.width, background);
    }
    bool isSet(int x, int y) const { return dib_.pixels.at(x, y) != background; }

private:
    MemoryDc dc_;
    DibSection dib_;
    Selection selection_;
};

void draw(Canvas& canvas, const Stroke& stroke) {
    if (stroke.isBox)
        canvas.box(stroke.from, stroke.to, stroke.colour);
    else
        canvas.line(stroke.from, stroke.to, stroke.colour);
}

// The outermost pixels are left out of the figures: the other side's nearest pixel may lie
// just beyond the edge, clipped.
bool onEdge(int x, int y) {
    return x == 0 || y == 0 || x == surfaceWidth - 1 || y == surfaceHeight - 1;
}

// Whether a pixel lies within one pixel, diagonals included, of one the surface has set.
bool setNearby(const DibSurface& surface, int x, int y) {
    for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, surfaceHeight - 1); ++ny)
        for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, surfaceWidth - 1); ++nx)
            if (surface.isSet(nx, ny))
                return true;
    return false;
}

// Pixel counts over all strokes of one pen width.
struct Tally {
    int strokes = 0;
    long setByEither = 0;
    // Set by one side with nothing of the other's within one pixel.
    long fartherThanAPixel = 0;
    // Set by only one side, or in different values.
    long differing = 0;
    // Width 1: every stroke that did not match exactly, with its differing pixels.
    std::vector<std::string> mismatches;

    double farShare() const { return setByEither ? double(fartherThanAPixel) / setByEither : 0; }
    double differingShare() const { return setByEither ? double(differing) / setByEither : 0; }
};

class Comparison {
public:
    bool ready() const { return gdi_.ready() && ours_.ready(); }

    void compare(const Stroke& stroke, int penWidth, Tally& tally) {
        gdi_.clear();
        ours_.clear();
        {
            GdiCanvas reference(gdi_.dc(), surfaceWidth, surfaceHeight, penWidth);
            draw(reference, stroke);
        }
        PixelCanvas canvas(ours_.pixels(), penWidth);
        draw(canvas, stroke);
        const PixelSurface& gdiPixels = gdi_.pixels();
        const PixelSurface& ourPixels = ours_.pixels();

        // Width 1 is compared everywhere; the edge is left out of the figures only.
        std::ostringstream differences;
        long mismatched = 0;
        ++tally.strokes;
        for (int y = 0; y < surfaceHeight; ++y) {
            for (int x = 0; x < surfaceWidth; ++x) {
                const bool byGdi = gdi_.isSet(x, y);
                const bool byUs = ours_.isSet(x, y);
                if (!byGdi && !byUs)
                    continue;
                const bool differs = gdiPixels.at(x, y) != ourPixels.at(x, y);
                if (!onEdge(x, y)) {
                    ++tally.setByEither;
                    if ((byGdi && !setNearby(ours_, x, y)) || (byUs && !setNearby(gdi_, x, y)))
                        ++tally.fartherThanAPixel;
                    tally.differing += differs ? 1 : 0;
                }
                if (differs && mismatched++ < 12)
                    differences << " (" << x << ", " << y << ")"
                                << (byGdi && byUs ? " colour"
                                    : byGdi       ? " GDI only"
                                                  : " ours only");
            }
        }
        if (mismatched != 0 && penWidth == 1)
            tally.mismatches.push_back(describe(stroke) + ": " + std::to_string(mismatched) +
                                       " pixels differ:" + differences.str() +
                                       (mismatched > 12 ? " ..." : ""));
    }

private:
    DibSurface gdi_;
    DibSurface ours_;
};

class RandomStrokes {
public:
    explicit RandomStrokes(std::uint32_t seed) : engine_(seed) {}

    Point point() { return {coordinate(surfaceWidth), coordinate(surfaceHeight)}; }
    Colour colour() { return std::uniform_int_distribution<Colour>(0, 0xFFFFFF)(engine_); }

    Stroke line() { return {point(), point(), colour(), false}; }
    Stroke box() { return {point(), point(), black, true}; }
    Stroke boxOfZeroWidth() {
        const Point corner = point();
        return {corner, {corner.x, coordinate(surfaceHeight)}, black, true};
    }
    Stroke boxOfZeroHeight() {
        const Point corner = point();
        return {corner, {coordinate(surfaceWidth), corner.y}, black, true};
    }
    Stroke boxOnOnePoint() {
        const Point corner = point();
        return {corner, corner, black, true};
    }

private:
    std::int32_t coordinate(int side) {
        return std::uniform_int_distribution<std::int32_t>(-reach, side + reach)(engine_);
    }
    std::mt19937 engine_;
};

std::vector<Stroke> strokesFor(int penWidth) {
    RandomStrokes random(20101u + static_cast<std::uint32_t>(penWidth));
    std::vector<Stroke> strokes;
    for (int i = 0; i < linesPerWidth; ++i)
        strokes.push_back(random.line());
    for (int i = 0; i < boxesPerWidth; ++i)
        strokes.push_back(random.box());
    for (int i = 0; i < degenerateBoxesPerKind; ++i) {
        strokes.push_back(random.boxOfZeroWidth());
        strokes.push_back(random.boxOfZeroHeight());
        strokes.push_back(random.boxOnOnePoint());
    }
    return strokes;
}

std::string percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f %%", share * 100);
    return text;
}

TEST(PixelCanvasAgainstGdi, EveryPenWidthOnRandomStrokesAndBoxes) {
    Comparison comparison;
    ASSERT_TRUE(comparison.ready());
    std::printf("pen width  strokes  pixels set  farther than 1 px  differing\n");
    for (int penWidth = 1; penWidth <= 10; ++penWidth) {
        Tally tally;
        for (const Stroke& stroke : strokesFor(penWidth))
            comparison.compare(stroke, penWidth, tally);
        std::printf("%9d  %7d  %10ld  %17s  %9s\n", penWidth, tally.strokes, tally.setByEither,
                    percent(tally.farShare()).c_str(), percent(tally.differingShare()).c_str());
        const std::string width = "width" + std::to_string(penWidth);
        RecordProperty(width + "_far_percent", percent(tally.farShare()));
        RecordProperty(width + "_differing_percent", percent(tally.differingShare()));

        SCOPED_TRACE("pen width " + std::to_string(penWidth));
        EXPECT_GT(tally.setByEither, 0);
        if (penWidth == 1) {
            // GDI's cosmetic pen, pixel for pixel: lines and the boxes' outlines alike.
            for (const std::string& mismatch : tally.mismatches)
                ADD_FAILURE() << mismatch;
        }
        EXPECT_LE(tally.farShare(), farShareAllowed);
    }
}

} // namespace
