#pragma once

#include "saver/canvas.hpp"

#include <chrono>

namespace zorblinth {

// What a front end tells the saver about one piece of user input, in the same words on every
// window system.
enum class InputKind {
    key,         // a key went down; `character` says what it types
    mouseButton, // left, right, middle or one of the two extra buttons went down
    wheel,       // a wheel turned, either way; no button on Windows
    mouseMove,   // the pointer is now at `position`
};

struct InputEvent {
    InputKind kind;
    Point position{};       // screen pixels; read for mouse moves only
    char32_t character = 0; // keys: the character the keymap gives, 0 for none
    bool altHeld = false;   // keys: Alt (Meta) was down
    // Mouse moves: which of the saver's surfaces the position is on, where positions on two
    // surfaces cannot be compared (Wayland: one surface an output, each in its own pixels).
    // 0 where positions are the whole screen's.
    unsigned surface = 0;
    // Mouse moves: the pointer came onto that surface (Wayland's enter) rather than moved on it.
    bool entered = false;
};

// A key types a character the way Windows delivers one to a window: letters, digits,
// punctuation, space, Enter, Escape, Backspace and Ctrl combinations do; Shift, Ctrl and Alt
// alone, arrows, function keys, Delete and anything with Alt held (a menu key) do not.
constexpr bool typesCharacter(char32_t character, bool altHeld) {
    return character != 0 && character != 0x7F && !altHeld;
}

// The first sign of the user ends the saver: any typed character, any mouse button, any move
// away from where the cursor was when the program started. A move that reports exactly that
// position (sent when the window appears under a still cursor) is not a sign, and neither is a
// key that types nothing or a turn of the wheel.
constexpr bool endsSaver(const InputEvent& event, Point startCursor) {
    switch (event.kind) {
    case InputKind::key:
        return typesCharacter(event.character, event.altHeld);
    case InputKind::mouseButton:
        return true;
    case InputKind::wheel:
        return false;
    case InputKind::mouseMove:
        return event.position != startCursor;
    }
    return false;
}

// Where the window system tells the pointer's position only once it is over the saver's
// surface (Wayland), the first position told is the start. A compositor that gives a new surface
// the pointer at once (sway, KWin) does so as it first shows it; one told later than this after
// the surfaces were shown may have come with the pointer moving onto them: mutter gives the
// pointer only with the first motion over a new surface, as an enter and then a motion report
// at that very point. So after such a late start the first motion report ends the saver even
// at the start's point; a late enter alone (mutter's, once its effect of showing a window ends)
// stays the start. The cost: on a compositor that sends the enter at once, nothing; on one that
// waits for a motion, a move within this time of the saver's appearing is taken as the start.
inline constexpr std::chrono::milliseconds enterPatience{250};

constexpr bool firstPositionIsLate(std::chrono::steady_clock::duration sinceShown) {
    return sinceShown > enterPatience;
}

// Which window holds activation (and with it the keyboard), as far as the window system says:
// one of the saver's own, another program's, or it does not say (none yet, or one gone meanwhile).
enum class ActivationHolder { saver, anotherProgram, unknown };

// Activation taken by another program ends the saver once the saver has held it, as the user
// taking the screen would: the saver would otherwise stay on top without the keyboard. Moving
// between the saver's own windows never does, and neither does a change that says no holder
// (the window system is between two windows) or one before the saver was first active (start-up).
constexpr bool activationEndsSaver(bool saverHeldActivation, ActivationHolder holder) {
    return saverHeldActivation && holder == ActivationHolder::anotherProgram;
}

} // namespace zorblinth
