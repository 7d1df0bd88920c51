#pragma once

#include <windows.h>

#include "saver/ending.hpp"
#include "saver/saver_session.hpp"

#include <chrono>
#include <optional>
#include <vector>

namespace zorblinth::win32 {

// What a keyboard or mouse message delivered to the saver's window says about the user:
// WM_CHAR and WM_SYSCHAR are keys with their character (Windows gives Alt combinations as
// WM_SYSCHAR), button downs are buttons, both wheels are the wheel, WM_MOUSEMOVE is a move in
// screen pixels. Nothing for other messages: a WM_KEYDOWN's character comes as its WM_CHAR.
std::optional<InputEvent> inputEventOf(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Who holds activation when it is this window: the saver (a window of this process), another
// program, or unknown for none, or a window gone meanwhile.
ActivationHolder activationHolder(HWND window);

// What an activation message delivered to a saver window says of who holds activation now:
// WM_ACTIVATEAPP tells whether the saver's thread or another program's gained it; WM_ACTIVATE
// and WM_KILLFOCUS name the window gaining it; WM_MOUSEACTIVATE is the window system offering a
// saver window activation (a click, or under Wine the X window manager's offer of the focus), so
// whoever holds it meanwhile is asked. Nothing for other messages.
std::optional<ActivationHolder> activationOf(UINT message, WPARAM wParam, LPARAM lParam);

// The same for a message still in the queue, where a WM_KEYDOWN has not been translated yet:
// it is a key with the character it would type with the keyboard as it is now (asked without
// disturbing a pending dead key); WM_SYSKEYDOWN is a key typing nothing.
std::optional<InputEvent> queuedInputEventOf(const MSG& message);

// Asked while a tick draws: true when the tick should stop, because input that ends the saver
// waits or the saver ends anyway. Keys that type nothing, key releases, the wheel and moves to
// the start cursor leave the tick whole; they are taken out of the queue, so that what lies
// behind them is seen, and held for the loop to handle after the tick, in order. Now and then it
// also handles messages sent to the window, so that the window system never takes the saver for
// hung.
class EndingInputWatch {
public:
    EndingInputWatch(const SaverSession& session, std::vector<MSG>& heldInput)
        : session_(session), heldInput_(heldInput) {}

    bool operator()();

private:
    // Takes the first waiting message in this range; true when it ends the saver.
    bool takeEndingInput(UINT first, UINT last);

    const SaverSession& session_;
    std::vector<MSG>& heldInput_;
    std::chrono::steady_clock::time_point lastAnswered_ = std::chrono::steady_clock::now();
};

} // namespace zorblinth::win32
