// What showing one full saver frame costs on the X display at hand: the image sent to a mapped
// window and the server done with it (XSync), through MIT-SHM and through plain XPutImage; and
// the same through PacedUpload, as the saver sends it, waiting for the server's word that it is
// done instead of a round trip.
// Run it on the display to measure, e.g. a 1920x1080 Xvfb:
//   xvfb-run -s "-screen 0 1920x1080x24" build/native/bench/frame_upload_bench_x11
#include "saver/x11/frame_image_x11.hpp"
#include "saver/x11/paced_upload_x11.hpp"
#include "saver/x11/x11_handles_x11.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace zorblinth::x11;

double medianMilliseconds(Display* display, Window window, GC gc, FrameImage& frame) {
    constexpr int repetitions = 60;
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        // A changing picture, as the saver's is.
        frame.surface().at(i % frame.width(), 0) = static_cast<std::uint32_t>(i);
        const auto start = std::chrono::steady_clock::now();
        frame.showAll(window, gc);
        XSync(display, False);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double pacedMedianMilliseconds(Display* display, Window window, GC gc, FrameImage& frame) {
    constexpr int repetitions = 60;
    PacedUpload upload(display, window, frame.width(), frame.height());
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        frame.surface().at(i % frame.width(), 0) = static_cast<std::uint32_t>(i);
        const auto start = std::chrono::steady_clock::now();
        upload.changedAll();
        while (upload.pending() || upload.inFlight()) {
            upload.send(frame, gc);
            XEvent event;
            XNextEvent(display, &event);
            upload.take(event);
        }
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main() {
    const DisplayConnection display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    Display* const x = display.get();
    const int screen = DefaultScreen(x);
    const int width = DisplayWidth(x, screen);
    const int height = DisplayHeight(x, screen);
    const Window window =
        XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, 0, 0);
    XMapRaised(x, window);
    XSync(x, False);
    const GraphicsContext gc(x, window);

    std::printf("one full frame of %dx%d shown and synced, median of 60\n", width, height);
    for (const auto transfer :
         {FrameImage::Transfer::sharedWhereAvailable, FrameImage::Transfer::plain}) {
        FrameImage frame(x, DefaultVisual(x, screen), DefaultDepth(x, screen), width, height,
                         transfer);
        if (!frame) {
            std::fprintf(stderr, "no image for this visual\n");
            return 1;
        }
        const char* const name = frame.shared() ? "MIT-SHM" : "XPutImage";
        std::printf("%-10s         %6.2f ms\n", name,
                    medianMilliseconds(x, window, gc.get(), frame));
        std::printf("%-10s paced   %6.2f ms\n", name,
                    pacedMedianMilliseconds(x, window, gc.get(), frame));
    }
    XDestroyWindow(x, window);
    return 0;
}
