// A full-screen window showing a test pattern in which every pixel is a known function of its
// position (e2e.images.screen_pattern computes the same), so the end-to-end tests can check
// that the saver's frozen picture is an exact copy of the screen. It asks the window manager for
// full screen and runs until killed.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <bit>
#include <cstdio>
#include <cstdlib>

#include <poll.h>

namespace {

struct Rgb {
    unsigned red, green, blue;
};

// Four horizontal sections: eight coloured bands; gradients; a one-pixel checker with a red
// column every ten pixels; a 16-pixel checker crossed by yellow diagonals. Nothing is black,
// which is the colour of the saver's boxes.
Rgb patternColour(int x, int y, int width, int height) {
    static constexpr Rgb bands[8] = {{230, 60, 60},  {240, 160, 40}, {235, 230, 70},
                                     {90, 200, 90},  {60, 200, 210}, {70, 100, 230},
                                     {170, 90, 220}, {200, 200, 200}};
    switch (y * 4 / height) {
    case 0:
        return bands[x * 8 / width];
    case 1: {
        const unsigned red = static_cast<unsigned>(x * 255 / (width - 1));
        return {red, static_cast<unsigned>(y * 5) & 255u, 255 - red / 2};
    }
    case 2:
        if (x % 10 == 0)
            return {255, 0, 0};
        return (x + y) % 2 ? Rgb{250, 250, 250} : Rgb{20, 20, 60};
    default:
        if (x % 32 == y % 32)
            return {255, 255, 0};
        return (x / 16 + y / 16) % 2 ? Rgb{70, 100, 230} : Rgb{200, 200, 200};
    }
}

unsigned long pixelOf(Rgb colour, const Visual& visual) {
    const auto place = [](unsigned value, unsigned long mask) {
        return (static_cast<unsigned long>(value) << std::countr_zero(mask)) & mask;
    };
    return place(colour.red, visual.red_mask) | place(colour.green, visual.green_mask) |
           place(colour.blue, visual.blue_mask);
}

} // namespace

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "pattern: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    Visual* visual = DefaultVisual(display, screen);

    XImage* image = XCreateImage(
        display, visual, static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap, 0, nullptr,
        static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    image->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(image->bytes_per_line) *
                                                 static_cast<std::size_t>(height)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            XPutPixel(image, x, y, pixelOf(patternColour(x, y, width, height), *visual));

    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None; // every pixel comes from the image
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    const Window window =
        XCreateWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWBackPixmap | CWEventMask, &attributes);
    XStoreName(display, window, "Zorblinth test pattern");
    XSizeHints position{};
    position.flags = USPosition | USSize;
    position.width = width;
    position.height = height;
    XSetWMNormalHints(display, window, &position);
    // Full screen from the start, so a window manager neither frames nor moves it.
    const Atom fullScreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&fullScreen), 1);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    XMapRaised(display, window);

    // A window manager that is still starting up may drop the request to map the window, so
    // it is repeated until the window is mapped.
    bool mapped = false;
    for (;;) {
        if (!mapped && XPending(display) == 0) {
            pollfd connection{ConnectionNumber(display), POLLIN, 0};
            if (poll(&connection, 1, 250) == 0) {
                XMapRaised(display, window);
                XFlush(display);
                continue;
            }
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify)
            mapped = true;
        else if (event.type == Expose)
            XPutImage(display, window, gc, image, event.xexpose.x, event.xexpose.y, event.xexpose.x,
                      event.xexpose.y, static_cast<unsigned>(event.xexpose.width),
                      static_cast<unsigned>(event.xexpose.height));
    }
}
