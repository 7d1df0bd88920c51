#include "saver/desktop_picture_x11.hpp"

#include "saver/x11_handles_x11.hpp"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <memory>

namespace zorblinth::x11 {

namespace {

template <typename Info, auto freeInfo> struct XrrFree {
    void operator()(Info* info) const { freeInfo(info); }
};
using ScreenResources =
    std::unique_ptr<XRRScreenResources, XrrFree<XRRScreenResources, XRRFreeScreenResources>>;
using OutputInfo = std::unique_ptr<XRROutputInfo, XrrFree<XRROutputInfo, XRRFreeOutputInfo>>;
using CrtcInfo = std::unique_ptr<XRRCrtcInfo, XrrFree<XRRCrtcInfo, XRRFreeCrtcInfo>>;

std::optional<Area> crtcArea(Display* display, XRRScreenResources* resources, RRCrtc crtc) {
    if (crtc == None)
        return std::nullopt;
    const CrtcInfo info(XRRGetCrtcInfo(display, resources, crtc));
    if (!info || info->mode == None || info->width == 0 || info->height == 0)
        return std::nullopt;
    return Area{info->x, info->y, static_cast<int>(info->width), static_cast<int>(info->height)};
}

} // namespace

Area primaryMonitor(Display* display) {
    const int screen = DefaultScreen(display);
    const Area wholeScreen{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
        !XRRQueryVersion(display, &major, &minor) || (major == 1 && minor < 3))
        return wholeScreen;

    const Window root = RootWindow(display, screen);
    const ScreenResources resources(XRRGetScreenResourcesCurrent(display, root));
    if (!resources)
        return wholeScreen;
    if (const RROutput primary = XRRGetOutputPrimary(display, root); primary != None) {
        const OutputInfo output(XRRGetOutputInfo(display, resources.get(), primary));
        if (output)
            if (const auto area = crtcArea(display, resources.get(), output->crtc))
                return *area;
    }
    for (int i = 0; i < resources->ncrtc; ++i)
        if (const auto area = crtcArea(display, resources.get(), resources->crtcs[i]))
            return *area;
    return wholeScreen;
}

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
