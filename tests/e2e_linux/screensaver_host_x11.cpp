// A stand-in for a screen-saver host: maps a window above everything that draws nothing of its
// own (no background), leaves a picture with a known pattern on it in _SCREENSAVER_SCREENSHOT,
// prints the window's id in decimal and then resizes its window on each line "resize WxH" on
// stdin, answering "done" once the server has done it, until stdin closes.
//
// Options: --size WxH (the window, 400x300), --at X,Y (its place, 0,0), --screenshot WxH (the
// picture's size; the window's by default), --no-screenshot, --free-screenshot (freed before
// the id is printed, so the property names a pixmap that is gone), --grab-keyboard (holds the
// keyboard, as a menu or a locker would).
//
// The picture's pixel (x, y) of a W x H picture is red x*255/(W-1), green y*255/(H-1), blue 230
// where bit 2 of x^y is set and 30 elsewhere (harness_linux.host_pattern computes the same).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

namespace {

struct Options {
    int x = 0, y = 0, width = 400, height = 300;
    bool screenshot = true;
    int shotWidth = 0, shotHeight = 0; // 0: the window's size
    bool freeScreenshot = false;
    bool grabKeyboard = false;
};

bool parsePair(const char* text, char separator, int& first, int& second) {
    char* end = nullptr;
    first = static_cast<int>(std::strtol(text, &end, 10));
    if (*end != separator)
        return false;
    second = static_cast<int>(std::strtol(end + 1, &end, 10));
    return *end == '\0';
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--size" && hasValue) {
            if (!parsePair(argv[++i], 'x', options.width, options.height))
                return false;
        } else if (option == "--at" && hasValue) {
            if (!parsePair(argv[++i], ',', options.x, options.y))
                return false;
        } else if (option == "--screenshot" && hasValue) {
            if (!parsePair(argv[++i], 'x', options.shotWidth, options.shotHeight))
                return false;
        } else if (option == "--no-screenshot") {
            options.screenshot = false;
        } else if (option == "--free-screenshot") {
            options.freeScreenshot = true;
        } else if (option == "--grab-keyboard") {
            options.grabKeyboard = true;
        } else {
            return false;
        }
    }
    return true;
}

unsigned long pixelOf(unsigned red, unsigned green, unsigned blue, const Visual& visual) {
    const auto place = [](unsigned value, unsigned long mask) {
        return (static_cast<unsigned long>(value) << std::countr_zero(mask)) & mask;
    };
    return place(red, visual.red_mask) | place(green, visual.green_mask) |
           place(blue, visual.blue_mask);
}

Pixmap patternPixmap(Display* display, Window window, int width, int height) {
    const int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);
    XImage* image =
        XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                     static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    image->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(image->bytes_per_line) *
                                                 static_cast<std::size_t>(height)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            XPutPixel(image, x, y,
                      pixelOf(static_cast<unsigned>(x * 255 / (width - 1)),
                              static_cast<unsigned>(y * 255 / (height - 1)),
                              ((x ^ y) & 4) ? 230 : 30, *visual));
    const Pixmap pixmap =
        XCreatePixmap(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height),
                      static_cast<unsigned>(depth));
    const GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
    XFreeGC(display, gc);
    XDestroyImage(image);
    return pixmap;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << "screensaver_host: bad arguments\n";
        return 64;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::cerr << "screensaver_host: cannot open the display\n";
        return 1;
    }
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True; // hosts cover the screen without the window manager
    attributes.background_pixmap = None; // the hack draws everything
    const Window window =
        XCreateWindow(display, DefaultRootWindow(display), options.x, options.y,
                      static_cast<unsigned>(options.width), static_cast<unsigned>(options.height),
                      0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixmap, &attributes);
    XStoreName(display, window, "Zorblinth test host");

    if (options.screenshot) {
        const Pixmap screenshot =
            patternPixmap(display, window, options.shotWidth ? options.shotWidth : options.width,
                          options.shotHeight ? options.shotHeight : options.height);
        XChangeProperty(display, window, XInternAtom(display, "_SCREENSAVER_SCREENSHOT", False),
                        XA_PIXMAP, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&screenshot), 1);
        if (options.freeScreenshot)
            XFreePixmap(display, screenshot);
    }
    XMapRaised(display, window);
    if (options.grabKeyboard)
        while (XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                             GrabModeAsync, CurrentTime) != GrabSuccess)
            XSync(display, False);
    XSync(display, False);
    std::cout << window << std::endl;

    for (std::string line; std::getline(std::cin, line);) {
        int width = 0;
        int height = 0;
        if (line.starts_with("resize ") && parsePair(line.c_str() + 7, 'x', width, height))
            XResizeWindow(display, window, static_cast<unsigned>(width),
                          static_cast<unsigned>(height));
        XSync(display, False);
        std::cout << "done" << std::endl;
    }
    XCloseDisplay(display); // frees the window and the pictures
    return 0;
}
