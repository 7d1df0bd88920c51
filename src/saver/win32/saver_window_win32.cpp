#include "saver/win32/saver_window_win32.hpp"

#include "platform/gdi_handles_win32.hpp"
#include "resource_ids.h"
#include "saver/random_source.hpp"
#include "saver/win32/monitors_win32.hpp"
#include "saver/win32/off_screen_surface_win32.hpp"
#include "saver/win32/saver_input_win32.hpp"
#include "settings/settings.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

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

} // namespace

// What every saver window shares: the session, the desktop the pictures come from, one window
// per monitor covered (the first made is Form1), the timer and the cursor.
struct SaverWindows {
    SaverWindows(HINSTANCE instance, SaverSession session)
        : windowClass{instance, windowClassName, windowTitle.data()}, session(std::move(session)) {}

    MonitorWindowClass windowClass;
    SaverSession session;
    // Held until the end, like the pictures taken from it.
    std::unique_ptr<WindowDc> desktopDc;
    std::vector<std::unique_ptr<MonitorWindow>> monitors;
    std::optional<TickTimer> timer;
    bool cursorHidden = false;
    // While a tick draws, the monitors are left as they are; a change seen meanwhile waits.
    bool drawing = false;
    bool layoutMayHaveChanged = false;
    std::chrono::steady_clock::time_point layoutChecked = std::chrono::steady_clock::now();
};

namespace {

// Windows tells no running window of a monitor that came or went under Wine, and a message can
// be missed anywhere: the layout is looked at again this often between ticks.
constexpr std::chrono::seconds layoutCheckInterval{1};

void showCursorAgain(SaverWindows& saver) {
    if (saver.cursorHidden)
        ShowCursor(TRUE);
    saver.cursorHidden = false;
}

// The saver has ended: nothing more is drawn, and the loop returns once the message at hand is
// handled. The windows go with the process (see runSaver).
void finish(SaverWindows& saver) {
    if (saver.timer)
        saver.timer->stop();
    showCursorAgain(saver);
}

// Ends the saver for a reason of the window system's.
void end(SaverWindows& saver) {
    if (saver.session.ended())
        return;
    saver.session.end();
    finish(saver);
}

// Covers the monitors there are now: windows of monitors gone go, new ones get a window and
// a picture taken now. The first window made covers the primary monitor and draws with the
// session's own drawing; every later one has a drawing of its own. False when a monitor's window
// or picture could not be made (the others are covered all the same).
bool followLayout(SaverWindows& saver) {
    saver.layoutMayHaveChanged = false;
    saver.layoutChecked = std::chrono::steady_clock::now();
    std::vector<Area> covered;
    for (const auto& monitor : saver.monitors)
        covered.push_back(monitor->area);
    const LayoutChange change = layoutChange(covered, everyMonitor());
    if (change.empty())
        return true;
    for (auto gone = change.gone.rbegin(); gone != change.gone.rend(); ++gone) {
        takeAway(*saver.monitors[*gone]);
        saver.monitors.erase(saver.monitors.begin() + static_cast<std::ptrdiff_t>(*gone));
    }
    const bool first = covered.empty();
    bool coveredAll = true;
    std::vector<MonitorWindow*> added;
    for (const Area& area : change.added) {
        std::optional<PictureDrawing> drawing;
        if (!first || !added.empty())
            drawing.emplace(saver.session.drawingForAnotherMonitor());
        auto monitor = coverMonitor(saver.windowClass, area, saver.desktopDc->get(), saver,
                                    std::move(drawing));
        // The others are covered all the same; the next look tries this one again.
        coveredAll = coveredAll && monitor != nullptr;
        if (!monitor)
            continue;
        added.push_back(monitor.get());
        saver.monitors.push_back(std::move(monitor));
    }
    // Shown only once every new picture is taken: none may hold another saver window.
    for (const MonitorWindow* monitor : added)
        show(*monitor, first && monitor == added.front());
    // Where the pointer's monitor was taken away, Windows put it elsewhere: no sign of the user.
    const std::optional<Point> start = saver.session.startCursor();
    if (!first && start && !onSomeMonitor(*start)) {
        POINT cursor{};
        GetCursorPos(&cursor);
        saver.session.pointerMovedBySystem({cursor.x, cursor.y});
    }
    return coveredAll;
}

// Another program holding activation ends the saver, whichever of its windows held it; a
// change between them does not.
void noteActivation(SaverWindows& saver, ActivationHolder holder) {
    if (!saver.session.ended() && saver.session.activationHeldBy(holder))
        finish(saver);
}

void followLayoutBetweenTicks(SaverWindows& saver) {
    if (saver.drawing)
        saver.layoutMayHaveChanged = true;
    else if (!saver.session.ended())
        followLayout(saver);
}

void take(SaverWindows& saver, const InputEvent& event) {
    if (saver.session.ended())
        return;
    // A move away from a start no monitor shows any more is Windows moving the pointer off a
    // monitor taken away, seen before the layout was looked at again.
    const std::optional<Point> start = saver.session.startCursor();
    if (event.kind == InputKind::mouseMove && start && saver.session.endsSaver(event) &&
        !onSomeMonitor(*start)) {
        followLayoutBetweenTicks(saver);
        saver.session.pointerMovedBySystem(event.position);
        return;
    }
    if (saver.session.take(event))
        finish(saver);
}

// All monitors on the one grid, one after another; input that ends the saver cuts the tick
// short: nobody will see the rest, and the user would only wait for it. Other input waits for
// the tick's end.
void drawOneTick(SaverWindows& saver, std::vector<MSG>& heldInput) {
    // A deactivation can miss the saver (Wine sends it to the one window that was active, and
    // it is lost if that monitor's window was taken away meanwhile): who holds the foreground
    // is looked at every tick as well.
    noteActivation(saver, activationHolder(GetForegroundWindow()));
    if (saver.session.ended())
        return;
    if (saver.layoutMayHaveChanged ||
        std::chrono::steady_clock::now() - saver.layoutChecked >= layoutCheckInterval)
        followLayout(saver);
    saver.drawing = true;
    const InputWaiting endingInput = EndingInputWatch(saver.session, heldInput);
    for (const auto& monitor : saver.monitors)
        if (!drawTick(*monitor, saver.session, endingInput))
            break;
    saver.drawing = false;
}

void paint(HWND window, const MonitorWindow& monitor) {
    const PaintScope scope(window);
    if (monitor.surface)
        monitor.surface->paintTo(scope.dc(), scope.area());
}

LRESULT CALLBACK saverWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    if (GetWindowLongPtrW(window, GWLP_USERDATA) == 0)
        return DefWindowProcW(window, message, wParam, lParam);
    MonitorWindow& monitor =
        *reinterpret_cast<MonitorWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    SaverWindows& saver = *monitor.saver;

    if (const std::optional<InputEvent> event = inputEventOf(window, message, wParam, lParam)) {
        take(saver, *event);
        // No system menu for Alt combinations; the extra buttons say they were handled.
        return message == WM_XBUTTONDOWN ? TRUE : 0;
    }
    // Another program took the screen, and the keyboard with it: end as the user would.
    if (const std::optional<ActivationHolder> holder = activationOf(message, wParam, lParam))
        noteActivation(saver, *holder);
    switch (message) {
    case WM_ERASEBKGND:
        // The surface covers every pixel; erasing first would flash black.
        return 1;
    case WM_PAINT:
        paint(window, monitor);
        return 0;
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        // Alt, F10 and Alt combinations type nothing: no system menu, no Alt+F4.
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_KEYMENU)
            return 0;
        break;
    case WM_DISPLAYCHANGE:
    case WM_DPICHANGED:
        // Every window stays over its monitor's pixels as they are: no rescaling.
        followLayoutBetweenTicks(saver);
        return 0;
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

// Unhooks the state from the windows that outlive it, so that nothing reaches a dead state.
class StateAttachment {
public:
    explicit StateAttachment(SaverWindows& saver) : saver_(saver) {}
    ~StateAttachment() {
        for (const auto& monitor : saver_.monitors)
            SetWindowLongPtrW(monitor->window, GWLP_USERDATA, 0);
    }
    StateAttachment(const StateAttachment&) = delete;
    StateAttachment& operator=(const StateAttachment&) = delete;

private:
    SaverWindows& saver_;
};

} // namespace

SaverOutcome runSaver(HINSTANCE instance, Point startCursor,
                      const std::filesystem::path& settingsFile, TickTimerSource timerSource) {
    if (!registerWindowClass(instance))
        return SaverOutcome::windowSystemFailed;

    SaverWindows saver(instance,
                       SaverSession(startCursor, settingsToUse(readSettingsOrZeros(settingsFile)),
                                    RandomSource{tickCountClock}));
    // The windows are left for the end of the process to take down. Destroying a full-screen
    // window makes Wine wait up to two seconds for a window manager to confirm, with the saver
    // still on screen; the program ends right after the loop anyway.
    const StateAttachment attachment(saver);
    // The timer's own window, never shown, so that it outlives every monitor's.
    const OwnedWindow timerWindow(CreateWindowExW(0, windowClassName, windowTitle.data(), 0, 0, 0,
                                                  0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
    saver.desktopDc = std::make_unique<WindowDc>(GetDesktopWindow());
    if (!timerWindow || !*saver.desktopDc || !followLayout(saver) || saver.monitors.empty())
        return SaverOutcome::windowSystemFailed;
    ShowCursor(FALSE);
    saver.cursorHidden = true;

    saver.timer.emplace(timerWindow.get(), timerSource);
    TickLoop loop(
        *saver.timer, [&] { drawOneTick(saver, loop.heldInput()); },
        [&saver] { return saver.session.ended(); });
    const bool ranToTheEnd = loop.run();
    finish(saver);
    return ranToTheEnd ? SaverOutcome::ended : SaverOutcome::windowSystemFailed;
}

} // namespace zorblinth::win32
