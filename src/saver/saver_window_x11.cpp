#include "saver/saver_window_x11.hpp"

#include "saver/termination_signals_posix.hpp"

#include "saver/desktop_picture_x11.hpp"
#include "saver/frame_image_x11.hpp"
#include "saver/paced_upload_x11.hpp"
#include "saver/x11_handles_x11.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cuchar>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include <poll.h>

namespace zorblinth::x11 {

namespace {

using Clock = std::chrono::steady_clock;
// How long the standalone saver keeps trying to grab the keyboard and the pointer, which
// another program (a menu, the host that started us) may hold for a moment.
constexpr auto grabPatience = std::chrono::seconds(1);

// SIGTERM, SIGINT and SIGHUP end the saver at once, also during start-up and in the middle of a
// tick.
bool terminationRequested() {
    return posix::TerminationSignals::requested();
}

// Xlib calls its I/O error handler once the connection is gone and ends the process when the
// handler returns; the handler takes no context of its own, so the way out is kept here.
EndProcess endOnLostConnection = nullptr;

int connectionLost(Display* display) {
    std::fprintf(stderr, "zorblinth: lost the connection to the X display \"%s\"\n",
                 DisplayString(display));
    std::fflush(stderr);
    endOnLostConnection(SaverOutcome::windowSystemFailed);
    std::abort(); // endOnLostConnection does not return
}

// Before anything can block or be grabbed: a signal or a dying server during start-up ends the
// saver the same way as later.
void prepareForEnding(EndProcess endProcess) {
    const posix::TerminationSignals installed;
    endOnLostConnection = endProcess;
    XSetIOErrorHandler(connectionLost);
}

// Keys are read in the user's character set: in the C library's default, Latin-1, the letters of
// a Cyrillic or Greek keymap type nothing and would not end the saver.
void readKeysAsTheUserTypes() {
    std::setlocale(LC_CTYPE, "");
}

// What the saver holds of the window system while it runs, in our window or a host's.
struct SaverWindow {
    Display* display = nullptr;
    Window window = None;
    bool hosted = false; // input belongs to the host
    std::unique_ptr<FrameImage> frame;
    std::unique_ptr<GraphicsContext> gc;
    std::unique_ptr<PacedUpload> upload;
    Atom ticksDrawnAtom = None;
    unsigned long ticksDrawn = 0;
};

void countTickDrawn(SaverWindow& saver) {
    if (saver.ticksDrawnAtom == None)
        saver.ticksDrawnAtom = XInternAtom(saver.display, ticksDrawnProperty, False);
    // Format 32 takes longs, of which the server keeps 32 bits.
    const long count = static_cast<long>(++saver.ticksDrawn & 0xFFFFFFFFu);
    XChangeProperty(saver.display, saver.window, saver.ticksDrawnAtom, XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&count), 1);
}

// A key as the saver sees it: the first character it types, and whether Alt was held.
// XLookupString writes it in the C library's character set, the user's (readKeysAsTheUserTypes).
InputEvent keyInput(XKeyEvent key) {
    char text[16];
    KeySym symbol = NoSymbol;
    const int length = XLookupString(&key, text, sizeof text, &symbol, nullptr);
    char32_t character = 0;
    std::mbstate_t state{};
    if (length > 0 && std::mbrtoc32(&character, text, static_cast<std::size_t>(length), &state) >
                          static_cast<std::size_t>(length))
        character = static_cast<unsigned char>(text[0]); // not in the character set: still one
    return {InputKind::key, {}, character, (key.state & Mod1Mask) != 0};
}

// Buttons 4 to 7 are the two wheels' turns, not buttons.
bool isWheel(unsigned int button) {
    return button >= Button4 && button <= 7;
}

// The user's input in the saver's words; none for any other event.
std::optional<InputEvent> userInput(const XEvent& event) {
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
bool endingInputWaits(const SaverWindow& saver, const SaverSession& session) {
    if (XEventsQueued(saver.display, QueuedAfterReading) == 0)
        return false;
    struct Search {
        const SaverSession& session;
        bool found = false;
    } search{session};
    const auto look = [](Display*, XEvent* queued, XPointer searching) -> Bool {
        auto& search = *reinterpret_cast<Search*>(searching);
        const auto input = userInput(*queued);
        search.found = search.found || (input && search.session.endsSaver(*input));
        return False; // take nothing
    };
    XEvent event;
    XCheckIfEvent(saver.display, &event, look, reinterpret_cast<XPointer>(&search));
    return search.found;
}

// The host's window changed size: what is drawn stays where it was, new area is black.
void resize(SaverWindow& saver, int width, int height) {
    if (width == saver.frame->width() && height == saver.frame->height())
        return;
    XWindowAttributes attributes{};
    ErrorTrap trap(saver.display); // the host may be taking its window away
    if (!XGetWindowAttributes(saver.display, saver.window, &attributes) || trap.failed())
        return;
    auto resized = std::make_unique<FrameImage>(saver.display, attributes.visual, attributes.depth,
                                                width, height);
    if (!*resized)
        return;
    const PixelSurface& from = saver.frame->surface();
    const PixelSurface& to = resized->surface();
    for (int y = 0; y < to.height; ++y) {
        const int kept = y < from.height ? std::min(from.width, to.width) : 0;
        if (kept > 0)
            std::memcpy(to.row(y), from.row(y), sizeof(std::uint32_t) * kept);
        std::fill(to.row(y) + kept, to.row(y) + to.width, pixelFromColour(black, to.format));
    }
    saver.frame = std::move(resized);
    saver.upload->resize(width, height);
}

void handle(SaverWindow& saver, SaverSession& session, const XEvent& event) {
    if (saver.upload->take(event))
        return;
    switch (event.type) {
    case Expose: // repaint from the picture: nothing drawn is ever lost
        saver.upload->changed(
            {event.xexpose.x, event.xexpose.y, event.xexpose.width, event.xexpose.height});
        break;
    case KeyPress:
    case ButtonPress:
    case MotionNotify:
        if (const auto input = userInput(event); input && !saver.hosted)
            session.take(*input);
        break;
    case ConfigureNotify: // a host's window follows its host's size
        if (saver.hosted && event.xconfigure.window == saver.window)
            resize(saver, event.xconfigure.width, event.xconfigure.height);
        break;
    case DestroyNotify: // the host took its window away: nothing left to draw on
        if (event.xdestroywindow.window == saver.window)
            session.end();
        break;
    default:
        break;
    }
}

// Draws the session's ticks on their schedule and hands events over between them, until the
// saver ends; a picture goes to the server whenever it has taken the one before.
void runEventLoop(SaverWindow& saver, SaverSession& session) {
    TickSchedule schedule(Clock::now());
    Clock::time_point tickStarted;
    // A long tick stops for the user's return (standalone) or a termination signal. One that
    // outlasts its period (a huge screen) keeps the picture going out meanwhile; a shorter one
    // is shown whole once it is drawn, never half-way.
    const InputWaiting tickMustStop = [&saver, &session, &tickStarted] {
        if (Clock::now() - tickStarted >= tickPeriod)
            saver.upload->keepSending(*saver.frame, saver.gc->get());
        return terminationRequested() || (!saver.hosted && endingInputWaits(saver, session));
    };
    for (;;) {
        while (!session.ended() && XPending(saver.display) > 0) {
            XEvent event;
            XNextEvent(saver.display, &event);
            handle(saver, session, event);
        }
        if (terminationRequested())
            session.end();
        if (session.ended())
            return;
        if (schedule.due(Clock::now())) {
            // Bands sent while a long tick draws show some of it; the rest goes out afterwards.
            saver.upload->changedAll();
            tickStarted = Clock::now();
            if (session.tick(saver.frame->surface(), tickMustStop))
                countTickDrawn(saver);
            schedule.ticked(Clock::now());
            saver.upload->changedAll();
            // A tick that ran late is followed at once by the next: this one's picture starts
            // going out first, as soon as the server has taken the one before. (Sending more of
            // it early in the next tick, as in the late part of a long one, showed fewer
            // pictures: measured at 4K, pen 1, 12 a second against 18.)
            if (schedule.due(Clock::now()))
                saver.upload->keepSending(*saver.frame, saver.gc->get());
            continue; // input that came during the tick first: it may end the saver
        }
        saver.upload->send(*saver.frame, saver.gc->get());
        XFlush(saver.display);
        // Xlib may have read events while writing; poll() would not see those.
        if (XEventsQueued(saver.display, QueuedAlready) > 0)
            continue;
        const auto untilTick = schedule.untilNext(Clock::now());
        if (untilTick == Clock::duration::zero())
            continue;
        pollfd waits[2] = {{ConnectionNumber(saver.display), POLLIN, 0},
                           {posix::TerminationSignals::wakeFd(), POLLIN, 0}};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(untilTick).count();
        poll(waits, waits[1].fd >= 0 ? 2 : 1, static_cast<int>(wait));
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
        if (Clock::now() >= deadline || terminationRequested())
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

bool makeFrame(SaverWindow& saver, Visual* visual, int depth, int width, int height) {
    saver.frame = std::make_unique<FrameImage>(saver.display, visual, depth, width, height);
    if (!*saver.frame) {
        std::cerr << "zorblinth: this display's visual (depth " << depth
                  << ") keeps no 8-bit red, green and blue in 32-bit pixels\n";
        return false;
    }
    return true;
}

// The saver's own window over the monitor: above everything and untouched by the window
// manager, showing no cursor, mapped once this returns.
Window showSaverWindow(Display* display, const Area& monitor, Cursor hidden) {
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixmap = None; // no flash of background before the first repaint
    attributes.event_mask =
        KeyPressMask | ButtonPressMask | PointerMotionMask | ExposureMask | StructureNotifyMask;
    attributes.cursor = hidden;
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

// An invisible cursor, given back when the saver ends.
class HiddenCursor {
public:
    explicit HiddenCursor(Display* display)
        : display_(display), cursor_(invisibleCursor(display, DefaultRootWindow(display))) {}
    ~HiddenCursor() { XFreeCursor(display_, cursor_); }
    HiddenCursor(const HiddenCursor&) = delete;
    HiddenCursor& operator=(const HiddenCursor&) = delete;
    Cursor get() const { return cursor_; }

private:
    Display* display_;
    Cursor cursor_;
};

} // namespace

SaverOutcome runStandaloneSaver(const std::filesystem::path& settingsFile,
                                const SettingsOverrides& overrides,
                                const ClaimRunningCopy& claimRunningCopy,
                                EndProcess endOnLostConnection) {
    prepareForEnding(endOnLostConnection);
    readKeysAsTheUserTypes();
    const DisplayConnection display = openDisplay();
    if (!display)
        return SaverOutcome::windowSystemFailed;
    Display* const x = display.get();
    const Window root = DefaultRootWindow(x);

    // First of all, before anything can move it: a later move is compared with this.
    const Point startCursor = pointerPosition(x);
    if (!claimRunningCopy())
        return SaverOutcome::anotherCopyRunning;
    // Read before anything is grabbed: whatever the file does, the user is not locked out.
    SaverSession session(startCursor, settingsToUse(readSettingsOrZeros(settingsFile), overrides));
    if (terminationRequested())
        return SaverOutcome::ended;

    SaverWindow saver;
    saver.display = x;
    // The picture is taken before our window exists, so it cannot contain it.
    const Area monitor = primaryMonitor(x);
    const int screen = DefaultScreen(x);
    if (!makeFrame(saver, DefaultVisual(x, screen), DefaultDepth(x, screen), monitor.width,
                   monitor.height))
        return SaverOutcome::windowSystemFailed;
    saver.frame->capture(root, monitor.x, monitor.y, monitor.width, monitor.height, 0, 0);

    const HiddenCursor hidden(x);
    saver.window = showSaverWindow(x, monitor, hidden.get());
    saver.gc = std::make_unique<GraphicsContext>(x, saver.window);
    saver.upload = std::make_unique<PacedUpload>(x, saver.window, monitor.width, monitor.height);
    saver.upload->send(*saver.frame, saver.gc->get());

    // A saver that cannot see the keyboard must not blank the screen.
    const bool keyboardGrabbed = keepTrying([&] {
        return XGrabKeyboard(x, saver.window, True, GrabModeAsync, GrabModeAsync, CurrentTime) ==
               GrabSuccess;
    });
    if (!keyboardGrabbed) {
        XDestroyWindow(x, saver.window);
        XSync(x, False);
        if (terminationRequested())
            return SaverOutcome::ended; // asked to end while waiting: nothing failed
        std::cerr << "zorblinth: the keyboard is held by another program; not starting the "
                     "saver\n";
        return SaverOutcome::windowSystemFailed;
    }
    // Without the pointer grabbed, moves still reach our window, which covers the monitor.
    keepTrying([&] {
        return XGrabPointer(x, saver.window, True, ButtonPressMask | PointerMotionMask,
                            GrabModeAsync, GrabModeAsync, None, hidden.get(),
                            CurrentTime) == GrabSuccess;
    });
    const bool cursorHidden = hasXFixes(x);
    if (cursorHidden)
        XFixesHideCursor(x, root);

    // X reports no move when a window appears under the pointer: a pointer that moved since
    // the start is that first move.
    session.take({InputKind::mouseMove, pointerPosition(x)});
    runEventLoop(saver, session);

    if (cursorHidden)
        XFixesShowCursor(x, root);
    XUngrabPointer(x, CurrentTime);
    XUngrabKeyboard(x, CurrentTime);
    XDestroyWindow(x, saver.window);
    saver.frame.reset();
    XSync(x, False);
    return SaverOutcome::ended;
}

SaverOutcome runHostedSaver(const std::filesystem::path& settingsFile,
                            const SettingsOverrides& overrides, std::optional<std::uint64_t> window,
                            EndProcess endOnLostConnection) {
    prepareForEnding(endOnLostConnection);
    const DisplayConnection display = openDisplay();
    if (!display)
        return SaverOutcome::windowSystemFailed;
    Display* const x = display.get();

    // Input belongs to the host: no start cursor, and nothing is ever taken.
    SaverSession session(std::nullopt, settingsToUse(readSettingsOrZeros(settingsFile), overrides));
    SaverWindow saver;
    saver.display = x;
    saver.hosted = true;
    saver.window = window ? static_cast<Window>(*window) : DefaultRootWindow(x);
    XWindowAttributes attributes{};
    {
        ErrorTrap trap(x);
        if (!XGetWindowAttributes(x, saver.window, &attributes) || trap.failed()) {
            std::cerr << "zorblinth: there is no window 0x" << std::hex << saver.window
                      << " to draw in\n";
            return SaverOutcome::windowSystemFailed;
        }
    }
    if (!makeFrame(saver, attributes.visual, attributes.depth, attributes.width, attributes.height))
        return SaverOutcome::windowSystemFailed;

    // The desktop the host left us, else black. The host's window covers the screen already,
    // so the screen itself is never read here.
    if (const auto screenshot = hostScreenshot(x, saver.window)) {
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
            saver.frame->capture(*screenshot, place.sourceX, place.sourceY, place.width,
                                 place.height, place.x, place.y);
        }
    }

    // Only what any number of clients may watch: input belongs to the host.
    XSelectInput(x, saver.window, ExposureMask | StructureNotifyMask);
    saver.gc = std::make_unique<GraphicsContext>(x, saver.window);
    saver.upload =
        std::make_unique<PacedUpload>(x, saver.window, attributes.width, attributes.height);
    {
        // The host may destroy its window at any moment; drawing into a window that has just
        // gone is no reason to crash before its DestroyNotify arrives.
        ErrorTrap trap(x);
        runEventLoop(saver, session);
        saver.frame.reset();
    }
    return SaverOutcome::ended;
}

} // namespace zorblinth::x11
