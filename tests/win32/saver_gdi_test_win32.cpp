// GDI's own pens, the reference the saver's drawing is measured against, and the saver's
// off-screen surface, run under Wine: colours, pen widths, box outlines, clipping, that no pen
// outlives its stroke, the snapshot copy and the pixels shared between GDI and our code.
#include <windows.h>

#include "gdi_canvas_win32.hpp"
#include "platform/gdi_handles_win32.hpp"
#include "saver/win32/dib_section_win32.hpp"
#include "saver/win32/off_screen_surface_win32.hpp"

#include <gtest/gtest.h>

namespace {

using namespace zorblinth;
using namespace zorblinth::win32;

constexpr Colour white = 0x00FFFFFF;

// A 32-bit memory surface filled with white, as the snapshot under the first tick could be.
class Surface {
public:
    Surface(int width, int height) : dc_(CreateCompatibleDC(nullptr)) {
        bitmap_ = topDownDibSection(dc_.get(), width, height).bitmap;
        selection_ = std::make_unique<Selection>(dc_.get(), bitmap_.get());
        PatBlt(dc_.get(), 0, 0, width, height, WHITENESS);
    }
    HDC dc() const { return dc_.get(); }
    Colour at(int x, int y) const { return GetPixel(dc_.get(), x, y); }

private:
    MemoryDc dc_;
    GdiObject<HBITMAP> bitmap_;
    std::unique_ptr<Selection> selection_;
};

TEST(GdiCanvas, ThinLineLandsInTheExactColour) {
    Surface surface(40, 30);
    const Colour orange = 0x000080FF; // red in the low byte
    {
        GdiCanvas canvas(surface.dc(), 40, 30, 1);
        canvas.line({5, 10}, {30, 10}, orange);
    }
    EXPECT_EQ(surface.at(5, 10), orange);
    EXPECT_EQ(surface.at(20, 10), orange);
    EXPECT_EQ(surface.at(20, 9), white);
    EXPECT_EQ(surface.at(20, 11), white);
}

TEST(GdiCanvas, WidePenCoversItsWidth) {
    Surface surface(40, 30);
    const Colour blue = 0x00FF0000;
    {
        GdiCanvas canvas(surface.dc(), 40, 30, 5);
        canvas.line({5, 15}, {35, 15}, blue);
    }
    for (int y = 13; y <= 17; ++y)
        EXPECT_EQ(surface.at(20, y), blue) << "row " << y;
    EXPECT_EQ(surface.at(20, 11), white);
    EXPECT_EQ(surface.at(20, 19), white);
}

TEST(GdiCanvas, SuccessiveWideLinesKeepTheirOwnColours) {
    Surface surface(40, 30);
    {
        GdiCanvas canvas(surface.dc(), 40, 30, 3);
        canvas.line({0, 5}, {39, 5}, 0x000000FF);
        canvas.line({0, 20}, {39, 20}, 0x0000FF00);
    }
    EXPECT_EQ(surface.at(20, 5), 0x000000FFu);
    EXPECT_EQ(surface.at(20, 20), 0x0000FF00u);
}

TEST(GdiCanvas, BoxIsAnOutlineWithAllFourSides) {
    for (const int penWidth : {1, 3}) {
        Surface surface(40, 30);
        {
            GdiCanvas canvas(surface.dc(), 40, 30, penWidth);
            // Corners given bottom-right first: the box does not depend on their order.
            canvas.box({30, 25}, {8, 4}, black);
        }
        SCOPED_TRACE(penWidth);
        for (const POINT corner : {POINT{8, 4}, POINT{30, 4}, POINT{30, 25}, POINT{8, 25}})
            EXPECT_EQ(surface.at(corner.x, corner.y), black) << corner.x << "," << corner.y;
        EXPECT_EQ(surface.at(19, 4), black);
        EXPECT_EQ(surface.at(30, 14), black);
        EXPECT_EQ(surface.at(19, 25), black);
        EXPECT_EQ(surface.at(8, 14), black);
        EXPECT_EQ(surface.at(19, 14), white) << "the inside stays as it was";
    }
}

TEST(GdiCanvas, DegenerateBoxStillDrawsItsLineOrPoint) {
    for (const int penWidth : {1, 4}) {
        Surface surface(40, 30);
        {
            GdiCanvas canvas(surface.dc(), 40, 30, penWidth);
            canvas.box({10, 5}, {10, 20}, black);
            canvas.box({15, 25}, {35, 25}, black);
            canvas.box({30, 10}, {30, 10}, black);
        }
        SCOPED_TRACE(penWidth);
        for (int y = 5; y <= 20; ++y)
            EXPECT_EQ(surface.at(10, y), black) << "vertical at y " << y;
        for (int x = 15; x <= 35; ++x)
            EXPECT_EQ(surface.at(x, 25), black) << "horizontal at x " << x;
        EXPECT_EQ(surface.at(30, 10), black) << "point";
    }
}

TEST(GdiCanvas, EndPointsBeyondTheEdgesAreClipped) {
    Surface surface(40, 30);
    const Colour green = 0x0000FF00;
    {
        GdiCanvas canvas(surface.dc(), 40, 30, 2);
        canvas.line({-20, 12}, {60, 12}, green);
        canvas.box({-20, -20}, {59, 49}, black);
    }
    EXPECT_EQ(surface.at(0, 12), green);
    EXPECT_EQ(surface.at(39, 12), green);
    EXPECT_EQ(surface.at(20, 0), white) << "the box's sides lie outside";
}

TEST(GdiCanvas, HandsTheDcBackWithItsOwnPen) {
    for (const int penWidth : {1, 6}) {
        Surface surface(10, 10);
        const HGDIOBJ before = GetCurrentObject(surface.dc(), OBJ_PEN);
        {
            GdiCanvas canvas(surface.dc(), 10, 10, penWidth);
            canvas.line({0, 0}, {9, 9}, 0x00123456);
            canvas.box({1, 1}, {8, 8}, black);
        }
        EXPECT_EQ(GetCurrentObject(surface.dc(), OBJ_PEN), before) << penWidth;
    }
}

TEST(GdiCanvas, WidePensDoNotPileUp) {
    // More strokes than the GDI handle table has room for: a pen kept per stroke would run it
    // out, and the last strokes would not be drawn at all.
    constexpr int strokes = 70000;
    Surface surface(4, 4);
    {
        GdiCanvas canvas(surface.dc(), 4, 4, 2);
        for (int i = 1; i <= strokes; ++i)
            canvas.line({0, 1}, {3, 1}, static_cast<Colour>(i));
    }
    EXPECT_EQ(surface.at(1, 1), static_cast<Colour>(strokes));
}

TEST(OffScreenSurface, SnapshotIsAOneToOneCopyFromTheOrigin) {
    Surface desktop(50, 40);
    PatBlt(desktop.dc(), 0, 0, 25, 20, BLACKNESS);
    SetPixel(desktop.dc(), 49, 39, 0x00345678);
    SetPixel(desktop.dc(), 30, 5, 0x00ABCDEF);

    const OffScreenSurface surface(desktop.dc(), 50, 40);
    ASSERT_TRUE(surface);
    surface.copyFrom(desktop.dc());
    EXPECT_EQ(GetPixel(surface.dc(), 0, 0), black);
    EXPECT_EQ(GetPixel(surface.dc(), 24, 19), black);
    EXPECT_EQ(GetPixel(surface.dc(), 25, 20), white);
    EXPECT_EQ(GetPixel(surface.dc(), 30, 5), 0x00ABCDEFu);
    EXPECT_EQ(GetPixel(surface.dc(), 49, 39), 0x00345678u);
}

TEST(OffScreenSurface, RepaintCopiesOnlyTheAskedAreaToTheSamePlace) {
    Surface desktop(30, 30);
    PatBlt(desktop.dc(), 0, 0, 30, 30, BLACKNESS);
    const OffScreenSurface surface(desktop.dc(), 30, 30);
    ASSERT_TRUE(surface);
    surface.copyFrom(desktop.dc());

    Surface window(30, 30);
    surface.paintTo(window.dc(), RECT{10, 5, 20, 15});
    EXPECT_EQ(window.at(10, 5), black);
    EXPECT_EQ(window.at(19, 14), black);
    EXPECT_EQ(window.at(20, 14), white);
    EXPECT_EQ(window.at(9, 5), white);
    EXPECT_EQ(window.at(15, 4), white);
}

TEST(OffScreenSurface, PixelsAreTheBitmapTopRowFirstInTheDibOrder) {
    Surface desktop(50, 40);
    SetPixel(desktop.dc(), 30, 5, 0x00ABCDEF);
    SetPixel(desktop.dc(), 2, 38, 0x00123456);
    const OffScreenSurface surface(desktop.dc(), 50, 40);
    ASSERT_TRUE(surface);
    surface.copyFrom(desktop.dc());

    // What GDI copied in is there to read, without any wait of our own. (GDI may leave the
    // unused top byte set, as WHITENESS does.)
    const PixelSurface pixels = surface.pixels();
    ASSERT_EQ(pixels.width, 50);
    ASSERT_EQ(pixels.height, 40);
    EXPECT_EQ(colourFromPixel(pixels.at(30, 5), xrgbPixels), 0x00ABCDEFu);
    EXPECT_EQ(colourFromPixel(pixels.at(2, 38), xrgbPixels), 0x00123456u);
    EXPECT_EQ(colourFromPixel(pixels.at(0, 0), xrgbPixels), white);

    // What we write there is what the next repaint shows.
    pixels.at(7, 33) = pixelFromColour(0x000080FF, xrgbPixels);
    Surface window(50, 40);
    surface.paintTo(window.dc(), RECT{0, 0, 50, 40});
    EXPECT_EQ(window.at(7, 33), 0x000080FFu);
    EXPECT_EQ(window.at(30, 5), 0x00ABCDEFu);
}

} // namespace
