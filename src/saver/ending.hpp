#pragma once

#include "saver/canvas.hpp"

namespace zorblinth {

// The saver's input, as far as ending it is concerned. Keys that type no character (Shift,
// arrows, function keys) are not saver input at all.
enum class InputKind { character, mouseButton, mouseMove };

struct InputEvent {
    InputKind kind;
    Point position; // screen pixels; read for mouse moves only
};

// The first sign of the user ends the saver: any typed character, any mouse button, any move
// away from where the cursor was when the program started. A move that reports exactly that
// position (sent when the window appears under a still cursor) is not a sign.
constexpr bool endsSaver(const InputEvent& event, Point startCursor) {
    return event.kind != InputKind::mouseMove || event.position != startCursor;
}

} // namespace zorblinth
