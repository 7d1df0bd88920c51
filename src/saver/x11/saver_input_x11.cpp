#include "saver/x11/saver_input_x11.hpp"

#include "saver/posix/termination_signals_posix.hpp"

#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <chrono>
#include <clocale>
#include <cstddef>
#include <cuchar>
#include <thread>

namespace zorblinth::x11 {

namespace {

using Clock = std::chrono::steady_clock;
// How long the standalone saver keeps trying to grab the keyboard and the pointer, which
// another program (a menu, the host that started us) may hold for a moment.
constexpr auto grabPatience = std::chrono::seconds(1);

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

} // namespace

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

bool endingInputWaits(Display* display, const SaverSession& session) {
    if (XEventsQueued(display, QueuedAfterReading) == 0)
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
    XCheckIfEvent(display, &event, look, reinterpret_cast<XPointer>(&search));
    return search.found;
}

void readKeysAsTheUserTypes() {
    std::setlocale(LC_CTYPE, "");
}

namespace {

// An invisible cursor for our own windows: the saver shows no pointer even where XFixes is
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
        if (Clock::now() >= deadline || posix::TerminationSignals::requested())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

bool hasXFixes(Display* display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 4;
    int minor = 0;
    return XFixesQueryExtension(display, &eventBase, &errorBase) &&
           XFixesQueryVersion(display, &major, &minor) && major >= 4;
}

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

HiddenCursor::HiddenCursor(Display* display)
    : display_(display), cursor_(invisibleCursor(display, DefaultRootWindow(display))) {}

HiddenCursor::~HiddenCursor() {
    XFreeCursor(display_, cursor_);
}

bool grabInput(Display* display, Cursor hidden) {
    const Window root = DefaultRootWindow(display);
    const bool keyboardGrabbed = keepTrying([&] {
        return XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
               GrabSuccess;
    });
    if (!keyboardGrabbed)
        return false;
    keepTrying([&] {
        return XGrabPointer(display, root, False, ButtonPressMask | PointerMotionMask,
                            GrabModeAsync, GrabModeAsync, None, hidden, CurrentTime) == GrabSuccess;
    });
    return true;
}

} // namespace zorblinth::x11
