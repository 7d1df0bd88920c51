#include "saver/wayland/picture_wayland.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zorblinth;
using namespace zorblinth::wayland;

namespace {

constexpr std::uint32_t argb8888 = 0;
constexpr std::uint32_t xrgb8888 = 1;
constexpr std::uint32_t xbgr8888 = 0x34324258;
constexpr std::uint32_t abgr8888 = 0x34324241;
constexpr std::uint32_t rgb565 = 0x36314752;

// A frame as a compositor might lay it out: rows of `strideBytes`, padding filled with junk.
struct FrameBytes {
    std::vector<std::byte> bytes;
    int width;
    int height;
    std::ptrdiff_t strideBytes;

    FrameBytes(int width, int height, std::ptrdiff_t strideBytes)
        : bytes(static_cast<std::size_t>(strideBytes) * height, std::byte{0xEE}), width(width),
          height(height), strideBytes(strideBytes) {}

    void set(int x, int y, std::uint32_t pixel) {
        std::memcpy(bytes.data() + y * strideBytes + x * 4, &pixel, 4);
    }
    CapturedFrame frame(PixelFormat format, bool yInverted) const {
        return {bytes.data(), width, height, strideBytes, format, yInverted};
    }
};

struct Picture {
    std::vector<std::uint32_t> pixels;
    PixelSurface surface;
    Picture(int width, int height)
        : pixels(static_cast<std::size_t>(width) * height, 0x12345678u), surface{pixels.data(),
                                                                                 width, height,
                                                                                 width,
                                                                                 xrgbPixels} {}
};

// Colours by position, so that a shifted, flipped or swapped copy shows.
Colour colourAt(int x, int y) {
    return static_cast<Colour>(0x10 + x) | static_cast<Colour>(0x20 + y) << 8 | 0x7Fu << 16;
}

} // namespace

TEST(CapturedFrame, FormatsWithBlueOrRedInTheLowByteAndNoOthers) {
    EXPECT_EQ(capturedPixelFormat(xrgb8888), xrgbPixels);
    EXPECT_EQ(capturedPixelFormat(argb8888), xrgbPixels);
    const PixelFormat redLow{0, 8, 16};
    EXPECT_EQ(capturedPixelFormat(xbgr8888), redLow);
    EXPECT_EQ(capturedPixelFormat(abgr8888), redLow);
    EXPECT_FALSE(capturedPixelFormat(rgb565).has_value());
}

TEST(CapturedFrame, CopiedUprightInThePicturesFormatWithoutAlphaOrPadding) {
    for (const std::uint32_t format : {xrgb8888, argb8888, xbgr8888, abgr8888}) {
        for (const bool yInverted : {false, true}) {
            SCOPED_TRACE(testing::Message() << "format " << format << ", y inverted " << yInverted);
            const PixelFormat layout = *capturedPixelFormat(format);
            FrameBytes bytes(3, 2, 3 * 4 + 8);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x)
                    bytes.set(x, yInverted ? 1 - y : y,
                              pixelFromColour(colourAt(x, y), layout) | 0xFF000000u);
            Picture picture(3, 2);
            copyCapturedFrame(bytes.frame(layout, yInverted), picture.surface);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x)
                    EXPECT_EQ(picture.surface.at(x, y), pixelFromColour(colourAt(x, y), xrgbPixels))
                        << "at " << x << ", " << y;
        }
    }
}

TEST(CapturedFrame, OfAnotherSizeFillsWhatItReachesAndLeavesTheRestBlack) {
    FrameBytes small(2, 1, 2 * 4);
    small.set(0, 0, 0x00FFFFFF);
    small.set(1, 0, 0x00FFFFFF);
    Picture picture(3, 2);
    copyCapturedFrame(small.frame(xrgbPixels, true), picture.surface);
    EXPECT_EQ(picture.pixels, (std::vector<std::uint32_t>{0xFFFFFF, 0xFFFFFF, 0, 0, 0, 0}));

    // A larger frame is cut at the picture's edges, never written past them.
    FrameBytes large(4, 3, 4 * 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            large.set(x, y, pixelFromColour(colourAt(x, y), xrgbPixels));
    std::vector<std::uint32_t> guarded(2 * 2 + 1, 0xABCDEFu);
    const PixelSurface tight{guarded.data(), 2, 2, 2, xrgbPixels};
    copyCapturedFrame(large.frame(xrgbPixels, true), tight);
    EXPECT_EQ(tight.at(0, 0), pixelFromColour(colourAt(0, 2), xrgbPixels)) << "bottom row first";
    EXPECT_EQ(tight.at(1, 1), pixelFromColour(colourAt(1, 1), xrgbPixels));
    EXPECT_EQ(guarded.back(), 0xABCDEFu);
}

TEST(PointerPosition, InThePicturesPixels) {
    EXPECT_EQ(picturePixel(10.75, 3.0, 640, 480, 640, 480), (Point{10, 3}));
    EXPECT_EQ(picturePixel(-0.5, 0.0, 640, 480, 640, 480), (Point{-1, 0})) << "rounded down";
    // Scale 2: a logical pixel is two of the picture's; half a logical pixel is one.
    EXPECT_EQ(picturePixel(10.0, 3.0, 960, 540, 1920, 1080), (Point{20, 6}));
    EXPECT_NE(picturePixel(10.5, 3.0, 960, 540, 1920, 1080),
              picturePixel(10.0, 3.0, 960, 540, 1920, 1080));
    // Scale 1.5 through a viewport.
    EXPECT_EQ(picturePixel(100.0, 100.0, 1280, 720, 1920, 1080), (Point{150, 150}));
}
