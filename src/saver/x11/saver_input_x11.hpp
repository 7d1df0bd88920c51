#pragma once

#include "saver/ending.hpp"
#include "saver/saver_session.hpp"

#include <X11/Xlib.h>

#include <optional>

namespace zorblinth::x11 {

// Keys are read in the user's character set: in the C library's default, Latin-1, the letters of
// a Cyrillic or Greek keymap type nothing and would not end the saver.
void readKeysAsTheUserTypes();

// The user's input in the saver's words; none for any other event. Pointer positions are the
// screen's, whichever window reports them.
std::optional<InputEvent> userInput(const XEvent& event);

// Whether input that ends the saver waits in the queue, without taking anything out: a held
// Shift or a move back to the start must not cut ticks short.
bool endingInputWaits(Display* display, const SaverSession& session);

// Where the pointer is on the screen.
Point pointerPosition(Display* display);

// Whether the server can hide the cursor everywhere (XFixes 4).
bool hasXFixes(Display* display);

// An invisible cursor, given back when the saver ends: our windows show no pointer even where
// XFixes is missing.
class HiddenCursor {
public:
    explicit HiddenCursor(Display* display);
    ~HiddenCursor();
    HiddenCursor(const HiddenCursor&) = delete;
    HiddenCursor& operator=(const HiddenCursor&) = delete;
    Cursor get() const { return cursor_; }

private:
    Display* display_;
    Cursor cursor_;
};

// The keyboard and the pointer, once for every monitor: grabbed on the root window, which
// stays whatever monitors come and go, and reported there wherever they happen. Another program
// may hold them for a moment: tried for a second. False when the keyboard could not be had (a
// saver that cannot see the keyboard must not blank the screen); without the pointer grabbed,
// moves still reach our windows, which cover the monitors.
bool grabInput(Display* display, Cursor hidden);

} // namespace zorblinth::x11
