#pragma once

#include <X11/Xlib.h>

#include <memory>

namespace zorblinth::x11 {

// Owning wrappers for what the saver holds of the X server; each is given back exactly once.

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayConnection = std::unique_ptr<Display, DisplayCloser>;

class GraphicsContext {
public:
    GraphicsContext(Display* display, Drawable drawable)
        : display_(display), gc_(XCreateGC(display, drawable, 0, nullptr)) {}
    ~GraphicsContext() { XFreeGC(display_, gc_); }
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;
    GC get() const { return gc_; }

private:
    Display* display_;
    GC gc_;
};

// Catches the X errors of the requests made while it lives, instead of Xlib's default of ending
// the program: for requests that may fail through no fault of ours, such as reading a pixmap
// that another client has freed or attaching shared memory over the network. Xlib's handler is
// one process-wide C callback, so what it caught is kept in a static.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits until the server has answered everything sent so far; true when any of it failed.
    bool failed();

private:
    static int record(Display*, XErrorEvent*);

    Display* display_;
    XErrorHandler previous_;
    static inline bool caught_ = false;
};

inline ErrorTrap::ErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);
    caught_ = false;
    previous_ = XSetErrorHandler(record);
}

inline ErrorTrap::~ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
}

inline bool ErrorTrap::failed() {
    XSync(display_, False);
    return caught_;
}

inline int ErrorTrap::record(Display*, XErrorEvent*) {
    caught_ = true;
    return 0;
}

} // namespace zorblinth::x11
