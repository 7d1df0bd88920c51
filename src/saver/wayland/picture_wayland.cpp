#include "saver/wayland/picture_wayland.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zorblinth::wayland {

namespace {
// wl_shm's codes: the two oldest are 0 and 1, the rest are DRM fourcc codes.
constexpr std::uint32_t argb8888 = 0;
constexpr std::uint32_t xrgb8888 = 1;
constexpr std::uint32_t xbgr8888 = 0x34324258;
constexpr std::uint32_t abgr8888 = 0x34324241;

constexpr PixelFormat redLow{0, 8, 16};
} // namespace

std::optional<PixelFormat> capturedPixelFormat(std::uint32_t shmFormat) {
    switch (shmFormat) {
    case argb8888:
    case xrgb8888:
        return xrgbPixels;
    case xbgr8888:
    case abgr8888:
        return redLow;
    default:
        return std::nullopt;
    }
}

void copyCapturedFrame(const CapturedFrame& frame, const PixelSurface& picture) {
    const std::uint32_t blackPixel = pixelFromColour(black, picture.format);
    const int width = std::clamp(frame.width, 0, picture.width);
    const int height = std::clamp(frame.height, 0, picture.height);
    for (int y = 0; y < picture.height; ++y) {
        std::uint32_t* const to = picture.row(y);
        int copied = 0;
        if (y < height) {
            const int sourceRow = frame.yInverted ? frame.height - 1 - y : y;
            const std::byte* const from = frame.data + sourceRow * frame.strideBytes;
            if (frame.format == picture.format) {
                std::memcpy(to, from, sizeof(std::uint32_t) * width);
                // Alpha or padding bits must not leak into our opaque pixels.
                for (int x = 0; x < width; ++x)
                    to[x] &= 0x00FFFFFFu;
            } else {
                for (int x = 0; x < width; ++x) {
                    std::uint32_t pixel;
                    std::memcpy(&pixel, from + x * sizeof pixel, sizeof pixel);
                    to[x] = pixelFromColour(colourFromPixel(pixel, frame.format), picture.format);
                }
            }
            copied = width;
        }
        std::fill(to + copied, to + picture.width, blackPixel);
    }
}

Point picturePixel(double surfaceX, double surfaceY, int surfaceWidth, int surfaceHeight,
                   int pictureWidth, int pictureHeight) {
    const auto scaled = [](double position, int surfaceSide, int pictureSide) {
        if (surfaceSide <= 0 || surfaceSide == pictureSide)
            return static_cast<int>(std::floor(position));
        return static_cast<int>(std::floor(position * pictureSide / surfaceSide));
    };
    return {scaled(surfaceX, surfaceWidth, pictureWidth),
            scaled(surfaceY, surfaceHeight, pictureHeight)};
}

} // namespace zorblinth::wayland
