#include "saver/win32/saver_window_win32.hpp"

#include "platform/gdi_handles_win32.hpp"
#include "resource_ids.h"
#include "saver/win32/off_screen_surface_win32.hpp"
#include "saver/random_source.hpp"
#include "saver/win32/saver_input_win32.hpp"
#include "settings/settings.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace zorblinth::win32 {

namespace {

constexpr wchar_t windowClassName[] = L"ZorblinthSaver";

// The title in UTF-16, widened once at compile time; it is plain ASCII.
constexpr auto windowTitle = [] {
    std::array<wchar_t, saverWindowTitle.size() + 1> wide{};
    for (std::size_t i = 0; i < saverWindowTitle.size(); ++i)
        wide[i] = static_cast<wchar_t>(saverWindowTitle[i]);
    return wide;
}();

// The random source re-seeds on every draw, some hundred thousand times a tick: the tick
// count costs about a nanosecond, where the precise system time or std::time cost 70 to 1000.
std::uint64_t tickCountClock() {
    return GetTickCount64();
}

// What lives across the events of Form1.
struct SaverWindow {
    explicit SaverWindow(SaverSession session) : session(std::move(session)) {}

    SaverSession session;
    // Held until the end, like the snapshot it was taken from.
    std::unique_ptr<WindowDc> desktopDc;
    std::unique_ptr<OffScreenSurface> surface;
    std::optional<TickTimer> timer;
    bool cursorHidden = false;
    // Set once the saver has been the active program: only then does losing activation count.
    bool activated = false;
    std::uintptr_t ticksDrawn = 0;
    std::uintptr_t ticksCut = 0;
};

SaverWindow& stateOf(HWND window) {
    return *reinterpret_cast<SaverWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void showCursorAgain(SaverWindow& saver) {
    if (saver.cursorHidden)
        ShowCursor(TRUE);
    saver.cursorHidden = false;
}

// The saver has ended: nothing more is drawn, and the loop returns once the message at hand is
// handled. The window goes with the process (see runSaver).
void finish(SaverWindow& saver) {
    if (saver.timer)
        saver.timer->stop();
    showCursorAgain(saver);
}

void take(SaverWindow& saver, const InputEvent& event) {
    if (!saver.session.ended() && saver.session.take(event))
        finish(saver);
}

// Ends the saver for a reason of the window system's.
void end(SaverWindow& saver) {
    if (saver.session.ended())
        return;
    saver.session.end();
    finish(saver);
}

void drawOneTick(HWND window, SaverWindow& saver, std::vector<MSG>& heldInput) {
    // Input that ends the saver cuts the tick short: nobody will see the rest, and the user
    // would only wait for it. Other input waits for the tick's end.
    const bool whole =
        saver.session.tick(saver.surface->pixels(), EndingInputWatch(saver.session, heldInput));
    ++(whole ? saver.ticksDrawn : saver.ticksCut);
    SetPropW(window, whole ? ticksDrawnProperty : ticksCutProperty,
             reinterpret_cast<HANDLE>(whole ? saver.ticksDrawn : saver.ticksCut));
    InvalidateRect(window, nullptr, FALSE);
}

void paint(HWND window, const SaverWindow& saver) {
    const PaintScope scope(window);
    if (saver.surface)
        saver.surface->paintTo(scope.dc(), scope.area());
}

LRESULT CALLBACK saverWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    if (GetWindowLongPtrW(window, GWLP_USERDATA) == 0)
        return DefWindowProcW(window, message, wParam, lParam);
    SaverWindow& saver = stateOf(window);

    if (const std::optional<InputEvent> event = inputEventOf(window, message, wParam, lParam)) {
        take(saver, *event);
        // No system menu for Alt combinations; the extra buttons say they were handled.
        return message == WM_XBUTTONDOWN ? TRUE : 0;
    }
    switch (message) {
    case WM_ERASEBKGND:
        // The surface covers every pixel; erasing first would flash black.
        return 1;
    case WM_PAINT:
        paint(window, saver);
        return 0;
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
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
            saver.activated = true;
        else if (saver.activated)
            end(saver);
        break;
    case WM_CLOSE:
    case WM_DESTROY:
        end(saver);
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

} // namespace

SaverOutcome runSaver(HINSTANCE instance, Point startCursor,
                      const std::filesystem::path& settingsFile, TickTimerSource timerSource) {
    if (!registerWindowClass(instance))
        return SaverOutcome::windowSystemFailed;

    SaverWindow saver(SaverSession(startCursor, settingsToUse(readSettingsOrZeros(settingsFile)),
                                   RandomSource{tickCountClock}));
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);

    // Created hidden: the snapshot below must not contain the saver's own window.
    OwnedWindow window(CreateWindowExW(WS_EX_TOPMOST, windowClassName, windowTitle.data(), WS_POPUP,
                                       0, 0, screenWidth, screenHeight, nullptr, nullptr, instance,
                                       &saver));
    if (!window)
        return SaverOutcome::windowSystemFailed;

    saver.desktopDc = std::make_unique<WindowDc>(GetDesktopWindow());
    if (!*saver.desktopDc)
        return SaverOutcome::windowSystemFailed;
    saver.surface =
        std::make_unique<OffScreenSurface>(saver.desktopDc->get(), screenWidth, screenHeight);
    if (!*saver.surface)
        return SaverOutcome::windowSystemFailed;
    saver.surface->copyFrom(saver.desktopDc->get());

    SetWindowPos(window.get(), HWND_TOPMOST, 0, 0, screenWidth, screenHeight, SWP_SHOWWINDOW);
    SetForegroundWindow(window.get());
    SetFocus(window.get());
    UpdateWindow(window.get());
    ShowCursor(FALSE);
    saver.cursorHidden = true;

    // From here the window is left for the end of the process to take down. Destroying a
    // full-screen window makes Wine wait up to two seconds for a window manager to confirm,
    // with the saver still on screen; the program ends right after the loop anyway.
    const HWND shown = window.release();
    const StateAttachment attachment(shown);
    saver.timer.emplace(shown, timerSource);
    TickLoop loop(
        *saver.timer, [&] { drawOneTick(shown, saver, loop.heldInput()); },
        [&saver] { return saver.session.ended(); });
    const bool ranToTheEnd = loop.run();
    finish(saver);
    return ranToTheEnd ? SaverOutcome::ended : SaverOutcome::windowSystemFailed;
}

} // namespace zorblinth::win32
