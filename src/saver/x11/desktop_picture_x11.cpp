#include "saver/x11/desktop_picture_x11.hpp"

#include "saver/x11/x11_handles_x11.hpp"

#include <X11/Xatom.h>

#include <algorithm>
#include <memory>

namespace zorblinth::x11 {

std::optional<Pixmap> hostScreenshot(Display* display, Window window) {
    const Atom property = XInternAtom(display, "_SCREENSAVER_SCREENSHOT", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long bytesLeft = 0;
    unsigned char* data = nullptr;
    ErrorTrap trap(display);
    const int status = XGetWindowProperty(display, window, property, 0, 1, False, XA_PIXMAP, &type,
                                          &format, &items, &bytesLeft, &data);
    std::optional<Pixmap> pixmap;
    if (status == Success && !trap.failed() && type == XA_PIXMAP && format == 32 && items == 1)
        // Format-32 items come as longs, whatever their size on the wire.
        pixmap = static_cast<Pixmap>(*reinterpret_cast<unsigned long*>(data));
    if (data != nullptr)
        XFree(data);
    if (pixmap == Pixmap{None})
        return std::nullopt;
    return pixmap;
}

Placement centred(int pictureWidth, int pictureHeight, int windowWidth, int windowHeight) {
    const auto along = [](int picture, int window) {
        const int length = std::min(picture, window);
        return std::pair{(picture - length) / 2, (window - length) / 2};
    };
    const auto [sourceX, x] = along(pictureWidth, windowWidth);
    const auto [sourceY, y] = along(pictureHeight, windowHeight);
    return {sourceX,
            sourceY,
            x,
            y,
            std::min(pictureWidth, windowWidth),
            std::min(pictureHeight, windowHeight)};
}

} // namespace zorblinth::x11
