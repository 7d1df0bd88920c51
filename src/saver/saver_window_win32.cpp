#include "saver/saver_window_win32.hpp"

#include "resource_ids.h"
#include "saver/ending.hpp"
#include "saver/gdi_handles_win32.hpp"
#include "saver/off_screen_surface_win32.hpp"
#include "saver/pixel_canvas.hpp"
#include "saver/random_source.hpp"
#include "saver/tick.hpp"
#include "settings/settings.hpp"

#include <chrono>
#include <memory>

namespace zorblinth {

namespace {

using namespace win32;

constexpr wchar_t windowClassName[] = L"ZorblinthSaver";
constexpr wchar_t windowTitle[] = L"Form1";
constexpr UINT_PTR timer1 = 1;
constexpr UINT tickMilliseconds = 50;
// Keys, buttons and moves: QS_INPUT as built for Windows 8 and later also holds touch and
// pointer bits, which Windows 7 rejects, and GetQueueStatus would then never report input.
constexpr UINT userInput = QS_KEY | QS_MOUSE;
// A window that retrieves no message for five seconds is taken for hung, and the window system's
// sent messages wait for it; a long tick looks at the queue this often.
constexpr std::chrono::milliseconds answerInterval{100};

// The random source re-seeds on every draw, some hundred thousand times a tick: the tick
// count costs about a nanosecond, where the precise system time or std::time cost 70 to 1000.
std::uint64_t tickCountClock() {
    return GetTickCount64();
}

// What lives across the events of Form1.
struct SaverState {
    Point startCursor;
    SaverSettings settings = usableSettings({});
    // Held until the end, like the snapshot it was taken from.
    std::unique_ptr<WindowDc> desktopDc;
    std::unique_ptr<OffScreenSurface> surface;
    RandomSource random{tickCountClock};
    // Set once the saver has been the active program: only then does losing activation count.
    bool activated = false;
    bool ending = false;
};

SaverState& stateOf(HWND window) {
    return *reinterpret_cast<SaverState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Asked about once a millisecond while a tick draws: true when the tick should stop because
// the user is back or the saver is ending anyway.
class TickInterruption {
public:
    explicit TickInterruption(const SaverState& state) : state_(state) {}

    bool operator()() {
        if (HIWORD(GetQueueStatus(userInput)) != 0)
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastAnswered_ >= answerInterval) {
            // Peeking handles the messages sent to the saver meanwhile (one of them may end it)
            // and tells the window system that the saver still answers.
            MSG message{};
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
            lastAnswered_ = now;
        }
        return state_.ending;
    }

private:
    const SaverState& state_;
    std::chrono::steady_clock::time_point lastAnswered_ = std::chrono::steady_clock::now();
};

void drawOneTick(HWND window, SaverState& state) {
    PixelCanvas canvas(state.surface->pixels(), state.settings.lineWidth);
    // Waiting input cuts the tick short: it is most likely the user ending the saver, and the
    // rest of the tick would only keep them waiting.
    drawTick(canvas, state.random, state.settings.lineAmount, TickInterruption(state));
    InvalidateRect(window, nullptr, FALSE);
}

void paint(HWND window, const SaverState& state) {
    const PaintScope scope(window);
    if (state.surface)
        state.surface->paintTo(scope.dc(), scope.area());
}

void endSaver(HWND window, SaverState& state) {
    if (state.ending)
        return;
    state.ending = true;
    // KillTimer also drops a tick already queued, so nothing is drawn after this.
    KillTimer(window, timer1);
    ShowCursor(TRUE);
    // The window goes with the process (see runSaver); the loop ends now.
    PostQuitMessage(normalEnd);
}

Point screenPosition(HWND window, LPARAM clientPosition) {
    POINT position{static_cast<short>(LOWORD(clientPosition)),
                   static_cast<short>(HIWORD(clientPosition))};
    ClientToScreen(window, &position);
    return {position.x, position.y};
}

void endOn(HWND window, const InputEvent& event) {
    SaverState& state = stateOf(window);
    if (endsSaver(event, state.startCursor))
        endSaver(window, state);
}

LRESULT CALLBACK saverWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    if (GetWindowLongPtrW(window, GWLP_USERDATA) == 0)
        return DefWindowProcW(window, message, wParam, lParam);

    switch (message) {
    case WM_ERASEBKGND:
        // The surface covers every pixel; erasing first would flash black.
        return 1;
    case WM_PAINT:
        paint(window, stateOf(window));
        return 0;
    case WM_TIMER:
        if (wParam == timer1 && !stateOf(window).ending)
            drawOneTick(window, stateOf(window));
        return 0;
    case WM_CHAR:
        endOn(window, {InputKind::key, {}, static_cast<char32_t>(wParam)});
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        endOn(window, {InputKind::mouseButton, {}});
        return 0;
    case WM_XBUTTONDOWN:
        endOn(window, {InputKind::mouseButton, {}});
        return TRUE;
    case WM_MOUSEMOVE:
        endOn(window, {InputKind::mouseMove, screenPosition(window, lParam)});
        return 0;
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
        // Alt, F10 and Alt combinations type nothing: no system menu, no Alt+F4.
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_KEYMENU)
            return 0;
        break;
    case WM_ACTIVATEAPP:
        // Another program took the screen, and the keyboard with it: end as the user would. A
        // deactivation before the saver was first active is the window system's start-up.
        if (wParam)
            stateOf(window).activated = true;
        else if (stateOf(window).activated)
            endSaver(window, stateOf(window));
        break;
    case WM_CLOSE:
        endSaver(window, stateOf(window));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(normalEnd);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool registerWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = saverWindowProcedure;
    windowClass.hInstance = instance;
    // Shared icons belong to the module: nothing to destroy.
    windowClass.hIcon = static_cast<HICON>(LoadImageW(
        instance, MAKEINTRESOURCEW(IDI_ZORBLINTH), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = windowClassName;
    return RegisterClassExW(&windowClass) != 0;
}

struct WindowDestroyer {
    void operator()(HWND window) const {
        if (IsWindow(window))
            DestroyWindow(window);
    }
};
using OwnedWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// Unhooks the state from a window that outlives it, so that nothing reaches a dead state.
class StateAttachment {
public:
    explicit StateAttachment(HWND window) : window_(window) {}
    ~StateAttachment() { SetWindowLongPtrW(window_, GWLP_USERDATA, 0); }
    StateAttachment(const StateAttachment&) = delete;
    StateAttachment& operator=(const StateAttachment&) = delete;

private:
    HWND window_;
};

int runMessageLoop() {
    MSG message{};
    BOOL result;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (result == -1)
            return windowSystemFailed;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

ExitStatus runSaver(HINSTANCE instance, Point startCursor,
                    const std::filesystem::path& settingsFile) {
    if (!registerWindowClass(instance))
        return windowSystemFailed;

    SaverState state;
    state.startCursor = startCursor;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);

    // Created hidden: the snapshot below must not contain the saver's own window.
    OwnedWindow window(CreateWindowExW(WS_EX_TOPMOST, windowClassName, windowTitle, WS_POPUP, 0, 0,
                                       screenWidth, screenHeight, nullptr, nullptr, instance,
                                       &state));
    if (!window)
        return windowSystemFailed;

    state.desktopDc = std::make_unique<WindowDc>(GetDesktopWindow());
    if (!*state.desktopDc)
        return windowSystemFailed;
    state.surface =
        std::make_unique<OffScreenSurface>(state.desktopDc->get(), screenWidth, screenHeight);
    if (!*state.surface)
        return windowSystemFailed;
    state.surface->copyFrom(state.desktopDc->get());

    SetWindowPos(window.get(), HWND_TOPMOST, 0, 0, screenWidth, screenHeight, SWP_SHOWWINDOW);
    SetForegroundWindow(window.get());
    SetFocus(window.get());
    UpdateWindow(window.get());
    ShowCursor(FALSE);

    state.settings = usableSettings(readSettingsOrZeros(settingsFile));
    if (SetTimer(window.get(), timer1, tickMilliseconds, nullptr) == 0) {
        ShowCursor(TRUE);
        return windowSystemFailed;
    }

    // From here the window is left for the end of the process to take down. Destroying a
    // full-screen window makes Wine wait up to two seconds for a window manager to confirm,
    // with the saver still on screen; the program ends right after the loop anyway.
    const StateAttachment attachment(window.release());
    return static_cast<ExitStatus>(runMessageLoop());
}

} // namespace zorblinth
