#pragma once

#include <X11/Xlib.h>

#include <optional>

namespace zorblinth::x11 {

struct Area {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Area&) const = default;
};

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
