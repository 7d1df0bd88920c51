// A picture inside a buffer with row padding, filled with a pattern so that a pixel left alone
// is told from one drawn over; shared by the tests that compare two drawings pixel for pixel.
#pragma once

#include "saver/raster/pixel_surface.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorblinth::test_support {

struct PaddedPicture {
    PaddedPicture(int width, int height, int padding)
        : stride(width + padding),
          pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height)) {
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
        surface = {pixels.data(), width, height, stride};
    }
    int stride;
    std::vector<std::uint32_t> pixels;
    PixelSurface surface;
};

// A clock that never moves: the random source's draws then follow from its seed alone.
template <std::uint64_t Time> std::uint64_t frozenClock() {
    return Time;
}

} // namespace zorblinth::test_support
