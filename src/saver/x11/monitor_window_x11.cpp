#include "saver/x11/monitor_window_x11.hpp"

#include "saver/x11/saver_window_x11.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

namespace zorblinth::x11 {

namespace {

// Our own window over the monitor: above everything and untouched by the window manager,
// showing no cursor, mapped once this returns.
Window showSaverWindow(Display* display, const Area& monitor, Cursor cursor) {
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixmap = None; // no flash of background before the first repaint
    attributes.event_mask =
        KeyPressMask | ButtonPressMask | PointerMotionMask | ExposureMask | StructureNotifyMask;
    attributes.cursor = cursor;
    const Window window =
        XCreateWindow(display, DefaultRootWindow(display), monitor.x, monitor.y,
                      static_cast<unsigned>(monitor.width), static_cast<unsigned>(monitor.height),
                      0, DefaultDepth(display, screen), InputOutput, DefaultVisual(display, screen),
                      CWOverrideRedirect | CWBackPixmap | CWEventMask | CWCursor, &attributes);
    const std::string title(saverWindowTitle);
    XStoreName(display, window, title.c_str());
    XClassHint windowClass{const_cast<char*>("zorblinth"), const_cast<char*>("Zorblinth")};
    XSetClassHint(display, window, &windowClass);
    XMapRaised(display, window);
    XEvent mapped;
    do
        XWindowEvent(display, window, StructureNotifyMask, &mapped);
    while (mapped.type != MapNotify);
    return window;
}

} // namespace

MonitorWindow::MonitorWindow(Display* display, Window hostWindow, std::unique_ptr<FrameImage> frame,
                             PictureDrawing drawing)
    : display_(display), window_(hostWindow),
      ours_(false), area_{0, 0, frame->width(), frame->height()}, frame_(std::move(frame)),
      gc_(display, window_), upload_(display, window_, area_.width, area_.height),
      drawing_(std::move(drawing)) {}

MonitorWindow::MonitorWindow(Display* display, const Area& monitor, Cursor cursor,
                             std::unique_ptr<FrameImage> frame, PictureDrawing drawing)
    : display_(display), window_(showSaverWindow(display, monitor, cursor)), ours_(true),
      area_(monitor), frame_(std::move(frame)), gc_(display, window_),
      upload_(display, window_, monitor.width, monitor.height), drawing_(std::move(drawing)) {
    send();
}

MonitorWindow::~MonitorWindow() {
    if (ours_)
        XDestroyWindow(display_, window_);
}

bool MonitorWindow::tick(const InputWaiting& mustStop) {
    upload_.changedAll(); // bands sent while a long tick draws show some of it
    const bool whole = drawing_.tick(frame_->surface(), mustStop);
    upload_.changedAll();
    if (whole)
        countTickDrawn();
    return whole;
}

void MonitorWindow::countTickDrawn() {
    if (ticksDrawnAtom_ == None)
        ticksDrawnAtom_ = XInternAtom(display_, ticksDrawnProperty, False);
    // Format 32 takes longs, of which the server keeps 32 bits.
    const long count = static_cast<long>(++ticksDrawn_ & 0xFFFFFFFFu);
    XChangeProperty(display_, window_, ticksDrawnAtom_, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&count), 1);
}

void MonitorWindow::resize(int width, int height) {
    if (width == frame_->width() && height == frame_->height())
        return;
    XWindowAttributes attributes{};
    ErrorTrap trap(display_); // the host may be taking its window away
    if (!XGetWindowAttributes(display_, window_, &attributes) || trap.failed())
        return;
    auto resized =
        std::make_unique<FrameImage>(display_, attributes.visual, attributes.depth, width, height);
    if (!*resized)
        return;
    const PixelSurface& from = frame_->surface();
    const PixelSurface& to = resized->surface();
    for (int y = 0; y < to.height; ++y) {
        const int kept = y < from.height ? std::min(from.width, to.width) : 0;
        if (kept > 0)
            std::memcpy(to.row(y), from.row(y), sizeof(std::uint32_t) * kept);
        std::fill(to.row(y) + kept, to.row(y) + to.width, pixelFromColour(black, to.format));
    }
    frame_ = std::move(resized);
    area_.width = width;
    area_.height = height;
    upload_.resize(width, height);
}

std::unique_ptr<FrameImage> makeFrame(Display* display, Visual* visual, int depth, int width,
                                      int height) {
    auto frame = std::make_unique<FrameImage>(display, visual, depth, width, height);
    if (!*frame) {
        std::cerr << "zorblinth: this display's visual (depth " << depth
                  << ") keeps no 8-bit red, green and blue in 32-bit pixels\n";
        return nullptr;
    }
    return frame;
}

std::unique_ptr<FrameImage> frozenPicture(Display* display, const Area& monitor) {
    const int screen = DefaultScreen(display);
    auto frame = makeFrame(display, DefaultVisual(display, screen), DefaultDepth(display, screen),
                           monitor.width, monitor.height);
    if (frame)
        frame->capture(DefaultRootWindow(display), monitor.x, monitor.y, monitor.width,
                       monitor.height, 0, 0);
    return frame;
}

} // namespace zorblinth::x11
