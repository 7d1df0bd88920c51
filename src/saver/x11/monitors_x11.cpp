#include "saver/x11/monitors_x11.hpp"

#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace zorblinth::x11 {

namespace {

template <typename Info, auto freeInfo> struct XrrFree {
    void operator()(Info* info) const { freeInfo(info); }
};
using ScreenResources =
    std::unique_ptr<XRRScreenResources, XrrFree<XRRScreenResources, XRRFreeScreenResources>>;
using OutputInfo = std::unique_ptr<XRROutputInfo, XrrFree<XRROutputInfo, XRRFreeOutputInfo>>;
using CrtcInfo = std::unique_ptr<XRRCrtcInfo, XrrFree<XRRCrtcInfo, XRRFreeCrtcInfo>>;
using MonitorInfo = std::unique_ptr<XRRMonitorInfo, XrrFree<XRRMonitorInfo, XRRFreeMonitors>>;

struct XFreeing {
    void operator()(void* data) const { XFree(data); }
};

Area wholeScreen(Display* display) {
    const int screen = DefaultScreen(display);
    return {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
}

// RandR's version, or none without RandR.
std::optional<std::pair<int, int>> randrVersion(Display* display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
        !XRRQueryVersion(display, &major, &minor))
        return std::nullopt;
    return std::pair{major, minor};
}

bool atLeast(const std::optional<std::pair<int, int>>& version, int major, int minor) {
    return version && *version >= std::pair{major, minor};
}

std::optional<Area> crtcArea(Display* display, XRRScreenResources* resources, RRCrtc crtc) {
    if (crtc == None)
        return std::nullopt;
    const CrtcInfo info(XRRGetCrtcInfo(display, resources, crtc));
    if (!info || info->mode == None || info->width == 0 || info->height == 0)
        return std::nullopt;
    return Area{info->x, info->y, static_cast<int>(info->width), static_cast<int>(info->height)};
}

void addOnce(std::vector<Area>& areas, const Area& area) {
    if (area.width > 0 && area.height > 0 &&
        std::find(areas.begin(), areas.end(), area) == areas.end())
        areas.push_back(area);
}

std::vector<Area> randrMonitors(Display* display) {
    int count = 0;
    const MonitorInfo monitors(XRRGetMonitors(display, DefaultRootWindow(display), True, &count));
    std::vector<Area> areas;
    for (int i = 0; monitors && i < count; ++i)
        addOnce(areas, {monitors.get()[i].x, monitors.get()[i].y, monitors.get()[i].width,
                        monitors.get()[i].height});
    return areas;
}

std::vector<Area> litCrtcs(Display* display) {
    const ScreenResources resources(
        XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display)));
    std::vector<Area> areas;
    for (int i = 0; resources && i < resources->ncrtc; ++i)
        if (const auto area = crtcArea(display, resources.get(), resources->crtcs[i]))
            addOnce(areas, *area);
    return areas;
}

std::vector<Area> xineramaHeads(Display* display) {
    int eventBase = 0;
    int errorBase = 0;
    std::vector<Area> areas;
    if (!XineramaQueryExtension(display, &eventBase, &errorBase) || !XineramaIsActive(display))
        return areas;
    int count = 0;
    const std::unique_ptr<XineramaScreenInfo, XFreeing> heads(
        XineramaQueryScreens(display, &count));
    for (int i = 0; heads && i < count; ++i)
        addOnce(areas, {heads.get()[i].x_org, heads.get()[i].y_org, heads.get()[i].width,
                        heads.get()[i].height});
    return areas;
}

} // namespace

std::vector<Area> everyMonitor(Display* display) {
    const auto version = randrVersion(display);
    std::vector<Area> areas;
    if (atLeast(version, 1, 5))
        areas = randrMonitors(display);
    if (areas.empty() && atLeast(version, 1, 3))
        areas = litCrtcs(display);
    if (areas.empty())
        areas = xineramaHeads(display);
    if (areas.empty())
        areas.push_back(wholeScreen(display));
    return areas;
}

Area primaryMonitor(Display* display) {
    const auto version = randrVersion(display);
    if (!atLeast(version, 1, 3))
        return wholeScreen(display);
    const Window root = DefaultRootWindow(display);
    const ScreenResources resources(XRRGetScreenResourcesCurrent(display, root));
    if (!resources)
        return wholeScreen(display);
    if (const RROutput primary = XRRGetOutputPrimary(display, root); primary != None) {
        const OutputInfo output(XRRGetOutputInfo(display, resources.get(), primary));
        if (output)
            if (const auto area = crtcArea(display, resources.get(), output->crtc))
                return *area;
    }
    for (int i = 0; i < resources->ncrtc; ++i)
        if (const auto area = crtcArea(display, resources.get(), resources->crtcs[i]))
            return *area;
    return wholeScreen(display);
}

bool pointerMayRestAt(Display* display, Point point) {
    if (!atLeast(randrVersion(display), 1, 3))
        return true;
    const std::vector<Area> lit = litCrtcs(display);
    return lit.empty() || std::any_of(lit.begin(), lit.end(), [point](const Area& area) {
               return point.x >= area.x && point.y >= area.y && point.x - area.x < area.width &&
                      point.y - area.y < area.height;
           });
}

bool watchMonitorChanges(Display* display, int& rrEventBase) {
    int errorBase = 0;
    if (!XRRQueryExtension(display, &rrEventBase, &errorBase))
        return false;
    const Window root = DefaultRootWindow(display);
    XRRSelectInput(display, root,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    // A monitor defined or deleted (xrandr --setmonitor) comes only as the root window's
    // ConfigureNotify, with no RandR event.
    XSelectInput(display, root, StructureNotifyMask);
    return true;
}

} // namespace zorblinth::x11
