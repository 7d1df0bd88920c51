#pragma once

#include "saver/canvas.hpp"
#include "saver/raster/pixel_surface.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zorblinth::wayland {

// A picture wider or taller than this is not a screen.
constexpr std::uint32_t largestScreenSide = 1u << 15;
// The most a picture may take: an 8K screen is 133 MB; a description beyond this is not believed,
// so that a wrong or hostile answer cannot make the saver claim gigabytes.
constexpr std::size_t largestPictureBytes = std::size_t{1} << 30;

// A rectangle in the compositor's layout of its outputs, in logical pixels.
struct LayoutArea {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const LayoutArea&) const = default;
};

// How a compositor lays out a captured frame's 32-bit pixels, named by wl_shm format code.
// XRGB8888 and ARGB8888 keep blue in the low byte, XBGR8888 and ABGR8888 red; alpha is ignored
// (the desktop is opaque). None for any other format: the saver then starts from black.
std::optional<PixelFormat> capturedPixelFormat(std::uint32_t shmFormat);

// A frame of an output's picture: rows of `stride` bytes, bottom row first when yInverted. As
// the compositor copies it, it is the way the output's hardware scans it out; upright, it is
// already turned the way the user sees the output.
struct CapturedFrame {
    const std::byte* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t strideBytes = 0;
    PixelFormat format;
    bool yInverted = false;
    bool upright = false;
};

// One output's frozen picture, from whichever source gave it; its memory goes with it.
class FrozenPicture {
public:
    virtual ~FrozenPicture() = default;
    virtual CapturedFrame frame() const = 0;
};

// Copies a captured frame into the top-left of the picture, top row first and in the
// picture's format; whatever of the picture the frame does not reach turns black.
void copyCapturedFrame(const CapturedFrame& frame, const PixelSurface& picture);

// A pointer position in surface coordinates (logical pixels) as a pixel of the picture that
// is shown scaled onto the surface, so that a move by one of the output's pixels counts.
Point picturePixel(double surfaceX, double surfaceY, int surfaceWidth, int surfaceHeight,
                   int pictureWidth, int pictureHeight);

} // namespace zorblinth::wayland
