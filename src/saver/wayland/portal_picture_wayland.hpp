#pragma once

#include "saver/raster/pixel_surface.hpp"
#include "saver/wayland/picture_wayland.hpp"

#include <bit>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorblinth::wayland {

// The picture of the whole desktop that the screenshot portal writes into a PNG file, and each
// output's area of it. The file is the portal's answer to us alone: it is read once and deleted.

// The desktop's pixels, top row first, upright: bytes B, G, R and one ignored in memory.
constexpr PixelFormat desktopImagePixels =
    std::endian::native == std::endian::little ? PixelFormat{16, 8, 0} : PixelFormat{8, 16, 24};
struct DesktopImage {
    std::vector<std::uint32_t> pixels;
    int width = 0;
    int height = 0;
};

// What reading the portal's file gave: the picture, or why there is none.
struct PortalPicture {
    std::shared_ptr<const DesktopImage> image;
    std::string failure;
};

// The local path a "file:" URI names (host empty or localhost, percent escapes decoded); none
// for another scheme or host, a relative path, a query or fragment, an escaped NUL or slash, or
// a "." or ".." component.
std::optional<std::string> localPathOf(std::string_view uri);

// Opens the file the URI names, without following a link in its last component, and deletes it
// at once, but only if it is a regular file of ours; then decodes it as a PNG no larger than a
// screen can be, giving up at `deadline` or on a termination signal.
PortalPicture readPortalPicture(std::string_view uri,
                                std::chrono::steady_clock::time_point deadline);

// Deletes the file the URI names, as readPortalPicture does, without reading it; why not, if
// it was not deleted.
std::string deletePortalFile(std::string_view uri);

// An area of a picture, in its pixels.
struct PixelArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelArea&) const = default;
};

// Where an output's area of the layout lies in a picture of the whole layout: the bounding box
// of `layout` spread over the picture, at the same scale both ways (a picture at the outputs'
// pixels is the logical layout times their scale). None when the picture cannot be of that
// layout or the output is not in it.
std::optional<PixelArea> pictureAreaOf(const LayoutArea& output, std::span<const LayoutArea> layout,
                                       int pictureWidth, int pictureHeight);

} // namespace zorblinth::wayland
