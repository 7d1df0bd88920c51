#pragma once

#include "saver/canvas.hpp"

#include <cstddef>
#include <cstdint>

namespace zorblinth {

// Where red, green and blue sit in a 32-bit pixel, as bit offsets of their low bits.
struct PixelFormat {
    int redShift;
    int greenShift;
    int blueShift;
    bool operator==(const PixelFormat&) const = default;
};

// Blue in the low byte, then green, then red: a 32-bit Windows DIB, and the usual 24-bit X11
// TrueColor visual.
inline constexpr PixelFormat xrgbPixels{16, 8, 0};

constexpr std::uint32_t pixelFromColour(Colour colour, PixelFormat format) {
    const std::uint32_t red = colour & 0xFFu;
    const std::uint32_t green = (colour >> 8) & 0xFFu;
    const std::uint32_t blue = (colour >> 16) & 0xFFu;
    return red << format.redShift | green << format.greenShift | blue << format.blueShift;
}

constexpr Colour colourFromPixel(std::uint32_t pixel, PixelFormat format) {
    const std::uint32_t red = (pixel >> format.redShift) & 0xFFu;
    const std::uint32_t green = (pixel >> format.greenShift) & 0xFFu;
    const std::uint32_t blue = (pixel >> format.blueShift) & 0xFFu;
    return red | green << 8 | blue << 16;
}

// A view of someone else's 32-bit pixel buffer, top row first. The stride counts pixels from
// one row's start to the next (at least the width); rows may carry padding.
struct PixelSurface {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    PixelFormat format = xrgbPixels;

    std::uint32_t* row(int y) const { return pixels + y * stride; }
    std::uint32_t& at(int x, int y) const { return row(y)[x]; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

} // namespace zorblinth
