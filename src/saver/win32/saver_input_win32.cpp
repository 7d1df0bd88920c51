#include "saver/win32/saver_input_win32.hpp"

namespace zorblinth::win32 {

namespace {

// Keys, buttons and moves, and posted messages (a WM_CHAR waits as one). QS_INPUT as built for
// Windows 8 and later also holds touch and pointer bits, which Windows 7 rejects, and
// GetQueueStatus would then never report input.
constexpr UINT waitingInput = QS_KEY | QS_MOUSE | QS_POSTMESSAGE;
// A window that retrieves no message for five seconds is taken for hung, and the window system's
// sent messages wait for it; a long tick looks at the queue this often.
constexpr std::chrono::milliseconds answerInterval{100};
// ToUnicode's flag (Windows 10 1607 and later) for asking without changing the keyboard's
// state: a dead key pressed before stays pending for the key's real translation.
constexpr UINT keepKeyboardState = 0x4;

// Windows types 0x7F only for Ctrl+Backspace, a Ctrl combination like Ctrl+H (the Delete key
// types nothing here). Everywhere else 0x7F is the Delete key's, which types nothing, so it is
// handed on as the key it came from: a character that ends the saver, as every WM_CHAR has.
char32_t typedCharacter(WPARAM character) {
    return character == 0x7F ? U'\b' : static_cast<char32_t>(character);
}

Point screenPosition(HWND window, LPARAM clientPosition) {
    POINT position{static_cast<short>(LOWORD(clientPosition)),
                   static_cast<short>(HIWORD(clientPosition))};
    ClientToScreen(window, &position);
    return {position.x, position.y};
}

// The character a key going down would type with the keyboard as the thread sees it now, which
// is as it was when the key went down: the state follows the key messages taken out so far.
char32_t characterOfKey(WPARAM virtualKey, LPARAM keyData) {
    if (virtualKey == VK_PACKET) // a character sent as a key press: it types one, whatever it is
        return U'\xFFFD';
    BYTE keyboard[256]{};
    if (!GetKeyboardState(keyboard))
        return 0;
    wchar_t typed[4]{};
    const int count = ToUnicode(static_cast<UINT>(virtualKey), (keyData >> 16) & 0xFF, keyboard,
                                typed, static_cast<int>(std::size(typed)), keepKeyboardState);
    // Negative for a dead key: it types nothing until the next key.
    return count > 0 ? typedCharacter(typed[0]) : 0;
}

} // namespace

std::optional<InputEvent> inputEventOf(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CHAR:
        return InputEvent{InputKind::key, {}, typedCharacter(wParam)};
    case WM_SYSCHAR:
        return InputEvent{InputKind::key, {}, static_cast<char32_t>(wParam), true};
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
        return InputEvent{InputKind::mouseButton};
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
        return InputEvent{InputKind::wheel};
    case WM_MOUSEMOVE:
        return InputEvent{InputKind::mouseMove, screenPosition(window, lParam)};
    default:
        return std::nullopt;
    }
}

ActivationHolder activationHolder(HWND window) {
    DWORD process = 0;
    if (window == nullptr || GetWindowThreadProcessId(window, &process) == 0)
        return ActivationHolder::unknown;
    return process == GetCurrentProcessId() ? ActivationHolder::saver
                                            : ActivationHolder::anotherProgram;
}

std::optional<ActivationHolder> activationOf(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ACTIVATEAPP:
        return wParam ? ActivationHolder::saver : ActivationHolder::anotherProgram;
    case WM_ACTIVATE:
        return LOWORD(wParam) == WA_INACTIVE ? activationHolder(reinterpret_cast<HWND>(lParam))
                                             : ActivationHolder::saver;
    case WM_KILLFOCUS:
        return activationHolder(reinterpret_cast<HWND>(wParam));
    case WM_MOUSEACTIVATE:
        // Under Wine the window system takes the offer up whatever the answer, and takes the
        // foreground back from a program that got it meanwhile, whose deactivation of the saver
        // is then dropped: this is the one sign of it the saver gets.
        return activationHolder(GetForegroundWindow());
    default:
        return std::nullopt;
    }
}

std::optional<InputEvent> queuedInputEventOf(const MSG& message) {
    switch (message.message) {
    case WM_KEYDOWN:
        return InputEvent{InputKind::key, {}, characterOfKey(message.wParam, message.lParam)};
    case WM_SYSKEYDOWN:
        return InputEvent{InputKind::key, {}, 0, true};
    default:
        return inputEventOf(message.hwnd, message.message, message.wParam, message.lParam);
    }
}

bool EndingInputWatch::operator()() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAnswered_ >= answerInterval) {
        // Peeking handles the messages sent to the saver meanwhile (one of them may end it)
        // and tells the window system that the saver still answers.
        MSG message{};
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
        lastAnswered_ = now;
    }
    if (session_.ended())
        return true;
    if (HIWORD(GetQueueStatus(waitingInput)) == 0)
        return false;
    return takeEndingInput(WM_KEYFIRST, WM_KEYLAST) || takeEndingInput(WM_MOUSEFIRST, WM_MOUSELAST);
}

bool EndingInputWatch::takeEndingInput(UINT first, UINT last) {
    MSG message{};
    while (PeekMessageW(&message, nullptr, first, last, PM_REMOVE)) {
        // Held even when it ends the saver: the loop handles it first thing after the tick.
        heldInput_.push_back(message);
        const std::optional<InputEvent> event = queuedInputEventOf(message);
        if (event && session_.endsSaver(*event))
            return true;
    }
    return false;
}

} // namespace zorblinth::win32
