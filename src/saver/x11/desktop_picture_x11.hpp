#pragma once

#include "saver/monitor_layout.hpp"

#include <X11/Xlib.h>

#include <optional>

namespace zorblinth::x11 {

// The desktop picture a host leaves on its window in the _SCREENSAVER_SCREENSHOT property (one
// Pixmap); none when there is none.
std::optional<Pixmap> hostScreenshot(Display* display, Window window);

// How a picture of one size is put on a window of another, centred: the part of the picture
// taken (sourceX, sourceY, width, height) and where it lands (x, y). A larger picture is
// cropped evenly on both sides; a smaller one leaves a margin around it.
struct Placement {
    int sourceX, sourceY, x, y, width, height;
    bool operator==(const Placement&) const = default;
};
Placement centred(int pictureWidth, int pictureHeight, int windowWidth, int windowHeight);

} // namespace zorblinth::x11
