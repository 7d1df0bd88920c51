#pragma once

#include "saver/raster/pixel_surface.hpp"
#include "saver/wayland/picture_wayland.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zorblinth::wayland {

// One screen's picture as KWin's screenshot interface gives it: raw 32-bit pixels, top row first,
// upright as the user sees the screen, at the screen's own pixel size.
struct ScreenPicture {
    std::vector<std::byte> bytes;
    int width = 0;
    int height = 0;
    std::ptrdiff_t strideBytes = 0;
    PixelFormat format;
};

// What KWin says of the raw picture it writes into the pipe, before the pixels come.
struct PictureDescription {
    std::string type;
    std::uint32_t format = 0; // a QImage format number
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t stride = 0;
};

// The 32-bit formats KWin writes, by QImage's numbers; none for any other, which is not used.
std::optional<PixelFormat> kwinPixelFormat(std::uint32_t qimageFormat);

// Whether the description is one the saver can use, and how many bytes the picture then has;
// else why not.
struct DescriptionCheck {
    std::size_t bytes = 0;
    std::string problem; // empty when usable
};
DescriptionCheck checkDescription(const PictureDescription& description);

// What asking for one screen gave: the picture, or why there is none.
struct ScreenCapture {
    std::optional<ScreenPicture> picture;
    std::string failure;
};

// Asks KWin, on the session bus, for a picture of each named screen without the cursor, all at
// once, and waits for them until `deadline` at most (or until a termination signal). KWin
// answers only programs whose installed desktop file lists its screenshot interface.
std::vector<ScreenCapture> captureScreens(std::span<const std::string> screenNames,
                                          std::chrono::steady_clock::time_point deadline);

} // namespace zorblinth::wayland
