#include "saver/saver_window_x11.hpp"

#include "saver/desktop_picture_x11.hpp"
#include "saver/ending.hpp"
#include "saver/frame_image_x11.hpp"
#include "saver/pixel_canvas.hpp"
#include "saver/random_source.hpp"
#include "saver/tick.hpp"
#include "saver/x11_handles_x11.hpp"
#include "startup/single_instance_linux.hpp"

#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zorblinth::x11 {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto tickInterval = std::chrono::milliseconds(50);
// How long the standalone saver keeps trying to grab the keyboard and the pointer, which
// another program (a menu, the host that started us) may hold for a moment.
constexpr auto grabPatience = std::chrono::seconds(1);

// SIGTERM, SIGINT and SIGHUP end the saver at once, also in the middle of a tick. A signal
// handler can only reach process-wide state: a flag for the tick and a pipe that wakes the
// event loop.
volatile std::sig_atomic_t terminationRequested = 0;
int terminationPipe[2] = {-1, -1};

void requestTermination(int) {
    terminationRequested = 1;
    const char wake = 0;
    [[maybe_unused]] const auto written = write(terminationPipe[1], &wake, 1);
}

void endOnTerminationSignals() {
    if (pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        terminationPipe[0] = terminationPipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = requestTermination;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// What lives across the events of the saver's window (ours, or the host's).
struct SaverState {
    Display* display = nullptr;
    Window window = None;
    bool hosted = false;
    Point startCursor;
    SaverSettings settings;
    std::unique_ptr<FrameImage> frame;
    std::unique_ptr<GraphicsContext> gc;
    RandomSource random;
    bool ending = false;
};

// A key as the saver sees it: what it types in the keymap's Latin-1, and whether Alt was held.
InputEvent keyInput(XKeyEvent key) {
    char text[8];
    KeySym symbol = NoSymbol;
    const int length = XLookupString(&key, text, sizeof text, &symbol, nullptr);
    const char32_t character = length > 0 ? static_cast<unsigned char>(text[0]) : 0;
    return {InputKind::key, {}, character, (key.state & Mod1Mask) != 0};
}

// Buttons 4 to 7 are the two wheels' turns, not buttons.
bool isWheel(unsigned int button) {
    return button >= Button4 && button <= 7;
}

// The standalone saver's input as the saver sees it; none for anything else.
std::optional<InputEvent> saverInput(const XEvent& event) {
    switch (event.type) {
    case KeyPress:
        return keyInput(event.xkey);
    case ButtonPress:
        return InputEvent{isWheel(event.xbutton.button) ? InputKind::wheel
                                                        : InputKind::mouseButton};
    case MotionNotify:
        return InputEvent{InputKind::mouseMove, {event.xmotion.x_root, event.xmotion.y_root}};
    default:
        return std::nullopt;
    }
}

// Whether input that ends the saver waits in the queue, without taking anything out: a held
// Shift or a move back to the start must not cut ticks short.
bool endingInputWaits(const SaverState& state) {
    if (XEventsQueued(state.display, QueuedAfterReading) == 0)
        return false;
    struct Search {
        Point startCursor;
        bool found = false;
    } search{state.startCursor};
    const auto look = [](Display*, XEvent* queued, XPointer searching) -> Bool {
        auto& search = *reinterpret_cast<Search*>(searching);
        const auto input = saverInput(*queued);
        search.found = search.found || (input && endsSaver(*input, search.startCursor));
        return False; // take nothing
    };
    XEvent event;
    XCheckIfEvent(state.display, &event, look, reinterpret_cast<XPointer>(&search));
    return search.found;
}

void drawOneTick(SaverState& state) {
    PixelCanvas canvas(state.frame->surface(), state.settings.lineWidth);
    drawTick(canvas, state.random, state.settings.lineAmount, [&state] {
        // A long tick stops for the user's return (standalone) or the host's signal.
        return terminationRequested != 0 || (!state.hosted && endingInputWaits(state));
    });
    state.frame->showAll(state.window, state.gc->get());
}

void paint(const SaverState& state, const XExposeEvent& exposed) {
    state.frame->show(state.window, state.gc->get(), exposed.x, exposed.y, exposed.width,
                      exposed.height);
}

void endOn(SaverState& state, const InputEvent& event) {
    if (endsSaver(event, state.startCursor))
        state.ending = true;
}

// The host's window changed size: what is drawn stays where it was, new area is black.
void resize(SaverState& state, int width, int height) {
    if (width == state.frame->width() && height == state.frame->height())
        return;
    XWindowAttributes attributes{};
    ErrorTrap trap(state.display); // the host may be taking its window away
    if (!XGetWindowAttributes(state.display, state.window, &attributes) || trap.failed())
        return;
    auto resized = std::make_unique<FrameImage>(state.display, attributes.visual, attributes.depth,
                                                width, height);
    if (!*resized)
        return;
    const PixelSurface& from = state.frame->surface();
    const PixelSurface& to = resized->surface();
    for (int y = 0; y < to.height; ++y) {
        const int kept = y < from.height ? std::min(from.width, to.width) : 0;
        if (kept > 0)
            std::memcpy(to.row(y), from.row(y), sizeof(std::uint32_t) * kept);
        std::fill(to.row(y) + kept, to.row(y) + to.width, pixelFromColour(black, to.format));
    }
    state.frame = std::move(resized);
    state.frame->showAll(state.window, state.gc->get());
}

void handle(SaverState& state, XEvent& event) {
    switch (event.type) {
    case Expose: // repaint from the picture: nothing drawn is ever lost
        paint(state, event.xexpose);
        break;
    case KeyPress:     // a key that types a character,
    case ButtonPress:  // any button,
    case MotionNotify: // or a move away from where the pointer was at start
        if (const auto input = saverInput(event); input && !state.hosted)
            endOn(state, *input);
        break;
    case ConfigureNotify: // a host's window follows its host's size
        if (state.hosted && event.xconfigure.window == state.window)
            resize(state, event.xconfigure.width, event.xconfigure.height);
        break;
    case DestroyNotify: // the host took its window away: nothing left to draw on
        if (event.xdestroywindow.window == state.window)
            state.ending = true;
        break;
    default:
        break;
    }
}

// Ticks every 50 ms and hands events to handle() between ticks, until the saver ends. A tick
// that runs long delays the next; missed ticks are not made up.
void runEventLoop(SaverState& state) {
    auto nextTick = Clock::now() + tickInterval;
    while (!state.ending && terminationRequested == 0) {
        while (!state.ending && XPending(state.display) > 0) {
            XEvent event;
            XNextEvent(state.display, &event);
            handle(state, event);
        }
        if (state.ending || terminationRequested != 0)
            break;
        const auto now = Clock::now();
        if (now >= nextTick) {
            nextTick = now + tickInterval;
            drawOneTick(state);
            continue;
        }
        pollfd waits[2] = {{ConnectionNumber(state.display), POLLIN, 0},
                           {terminationPipe[0], POLLIN, 0}};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextTick - now).count();
        poll(waits, terminationPipe[0] >= 0 ? 2 : 1, static_cast<int>(wait));
    }
}

// An invisible cursor for our own window: the saver shows no pointer even where XFixes is
// missing.
Cursor invisibleCursor(Display* display, Window window) {
    const char nothing[1] = {0};
    const Pixmap blank = XCreateBitmapFromData(display, window, nothing, 1, 1);
    XColor colour{};
    const Cursor cursor = XCreatePixmapCursor(display, blank, blank, &colour, &colour, 0, 0);
    XFreePixmap(display, blank);
    return cursor;
}

template <typename Attempt> bool keepTrying(Attempt attempt) {
    const auto deadline = Clock::now() + grabPatience;
    while (!attempt()) {
        if (Clock::now() >= deadline || terminationRequested != 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool hasXFixes(Display* display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 4;
    int minor = 0;
    return XFixesQueryExtension(display, &eventBase, &errorBase) &&
           XFixesQueryVersion(display, &major, &minor) && major >= 4;
}

// Where the pointer is on the screen.
Point pointerPosition(Display* display) {
    Window root = None;
    Window child = None;
    Point position;
    int windowX = 0;
    int windowY = 0;
    unsigned int buttons = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &position.x, &position.y,
                  &windowX, &windowY, &buttons);
    return position;
}

DisplayConnection openDisplay() {
    DisplayConnection display(XOpenDisplay(nullptr));
    if (!display)
        std::cerr << "zorblinth: cannot open the X display \"" << XDisplayName(nullptr) << "\"\n";
    return display;
}

bool makeFrame(SaverState& state, Visual* visual, int depth, int width, int height) {
    state.frame = std::make_unique<FrameImage>(state.display, visual, depth, width, height);
    if (!*state.frame) {
        std::cerr << "zorblinth: this display's visual (depth " << depth
                  << ") keeps no 8-bit red, green and blue in 32-bit pixels\n";
        return false;
    }
    return true;
}

} // namespace

ExitStatus runStandaloneSaver(const std::filesystem::path& settingsFile,
                              const std::filesystem::path& lockFile,
                              const CommandLine& commandLine) {
    const DisplayConnection display = openDisplay();
    if (!display)
        return windowSystemFailed;
    Display* const x = display.get();
    const Window root = DefaultRootWindow(x);

    SaverState state;
    state.display = x;
    // First of all, before anything can move it: a later move is compared with this.
    state.startCursor = pointerPosition(x);

    const posix::SingleInstance instanceClaim(lockFile);
    if (instanceClaim.anotherIsRunning())
        return alreadyRunning;
    endOnTerminationSignals();

    // The picture is taken before our window exists, so it cannot contain it.
    const Area monitor = primaryMonitor(x);
    const int screen = DefaultScreen(x);
    if (!makeFrame(state, DefaultVisual(x, screen), DefaultDepth(x, screen), monitor.width,
                   monitor.height))
        return windowSystemFailed;
    state.frame->capture(root, monitor.x, monitor.y, monitor.width, monitor.height, 0, 0);

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True; // above everything, untouched by the window manager
    attributes.background_pixmap = None; // no flash of background before the first repaint
    attributes.event_mask =
        KeyPressMask | ButtonPressMask | PointerMotionMask | ExposureMask | StructureNotifyMask;
    state.window = XCreateWindow(
        x, root, monitor.x, monitor.y, static_cast<unsigned>(monitor.width),
        static_cast<unsigned>(monitor.height), 0, DefaultDepth(x, screen), InputOutput,
        DefaultVisual(x, screen), CWOverrideRedirect | CWBackPixmap | CWEventMask, &attributes);
    const Cursor hidden = invisibleCursor(x, state.window);
    XDefineCursor(x, state.window, hidden);
    XStoreName(x, state.window, "Form1");
    XClassHint windowClass{const_cast<char*>("zorblinth"), const_cast<char*>("Zorblinth")};
    XSetClassHint(x, state.window, &windowClass);
    state.gc = std::make_unique<GraphicsContext>(x, state.window);
    XMapRaised(x, state.window);
    XEvent mapped;
    XWindowEvent(x, state.window, StructureNotifyMask, &mapped);
    while (mapped.type != MapNotify)
        XWindowEvent(x, state.window, StructureNotifyMask, &mapped);
    state.frame->showAll(state.window, state.gc->get());

    // A saver that cannot see the keyboard must not blank the screen.
    const bool keyboardGrabbed = keepTrying([&] {
        return XGrabKeyboard(x, state.window, True, GrabModeAsync, GrabModeAsync, CurrentTime) ==
               GrabSuccess;
    });
    if (!keyboardGrabbed) {
        XDestroyWindow(x, state.window);
        XFreeCursor(x, hidden);
        if (terminationRequested != 0)
            return normalEnd; // asked to end while waiting: nothing failed
        std::cerr << "zorblinth: the keyboard is held by another program; not starting the "
                     "saver\n";
        return windowSystemFailed;
    }
    // Without the pointer grabbed, moves still reach our window, which covers the monitor.
    keepTrying([&] {
        return XGrabPointer(x, state.window, True, ButtonPressMask | PointerMotionMask,
                            GrabModeAsync, GrabModeAsync, None, hidden, CurrentTime) == GrabSuccess;
    });
    const bool cursorHidden = hasXFixes(x);
    if (cursorHidden)
        XFixesHideCursor(x, root);

    state.settings = settingsToUse(readSettingsOrZeros(settingsFile), commandLine.overrides);
    // X reports no move when a window appears under the pointer: a pointer that moved since
    // the start is that first move.
    endOn(state, {InputKind::mouseMove, pointerPosition(x)});
    runEventLoop(state);

    if (cursorHidden)
        XFixesShowCursor(x, root);
    XUngrabPointer(x, CurrentTime);
    XUngrabKeyboard(x, CurrentTime);
    XDestroyWindow(x, state.window);
    XFreeCursor(x, hidden);
    state.frame.reset();
    XSync(x, False);
    return normalEnd;
}

ExitStatus runHostedSaver(const std::filesystem::path& settingsFile,
                          const CommandLine& commandLine) {
    const DisplayConnection display = openDisplay();
    if (!display)
        return windowSystemFailed;
    Display* const x = display.get();
    endOnTerminationSignals();

    SaverState state;
    state.display = x;
    state.hosted = true;
    state.window =
        commandLine.window ? static_cast<Window>(*commandLine.window) : DefaultRootWindow(x);
    XWindowAttributes attributes{};
    {
        ErrorTrap trap(x);
        if (!XGetWindowAttributes(x, state.window, &attributes) || trap.failed()) {
            std::cerr << "zorblinth: there is no window 0x" << std::hex << state.window
                      << " to draw in\n";
            return windowSystemFailed;
        }
    }
    if (!makeFrame(state, attributes.visual, attributes.depth, attributes.width, attributes.height))
        return windowSystemFailed;

    // The desktop the host left us, else black. The host's window covers the screen already,
    // so the screen itself is never read here.
    if (const auto screenshot = hostScreenshot(x, state.window)) {
        Window pixmapRoot = None;
        int pixmapX = 0;
        int pixmapY = 0;
        unsigned int width = 0;
        unsigned int height = 0;
        unsigned int border = 0;
        unsigned int depth = 0;
        ErrorTrap trap(x); // the host may have freed it already
        if (XGetGeometry(x, *screenshot, &pixmapRoot, &pixmapX, &pixmapY, &width, &height, &border,
                         &depth) &&
            !trap.failed() && static_cast<int>(depth) == attributes.depth) {
            const Placement place = centred(static_cast<int>(width), static_cast<int>(height),
                                            attributes.width, attributes.height);
            state.frame->capture(*screenshot, place.sourceX, place.sourceY, place.width,
                                 place.height, place.x, place.y);
        }
    }

    // Only what any number of clients may watch: input belongs to the host.
    XSelectInput(x, state.window, ExposureMask | StructureNotifyMask);
    state.gc = std::make_unique<GraphicsContext>(x, state.window);
    state.frame->showAll(state.window, state.gc->get());

    state.settings = settingsToUse(readSettingsOrZeros(settingsFile), commandLine.overrides);
    {
        // The host may destroy its window at any moment; drawing into a window that has just
        // gone is no reason to crash before its DestroyNotify arrives.
        ErrorTrap trap(x);
        runEventLoop(state);
        state.frame.reset();
    }
    return normalEnd;
}

} // namespace zorblinth::x11
