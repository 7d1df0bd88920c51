// A full-screen window showing a fixed test pattern, so the end-to-end tests can check that the
// saver's frozen picture is a pixel-exact copy of what was on screen (Wine leaves the X root
// window's own background out of desktop snapshots, so the tests need a window of their own).
#include <windows.h>

#include <string_view>

#include <array>

namespace {

constexpr wchar_t windowClassName[] = L"ZorblinthTestPattern";
constexpr wchar_t windowTitle[] = L"Zorblinth test pattern";

// Eight vertical bands in distinct, non-black colours; the lower part adds a checker of two of
// them so a shifted copy would show.
constexpr std::array<COLORREF, 8> bandColours = {
    RGB(230, 60, 60),  RGB(240, 160, 40), RGB(235, 230, 70), RGB(90, 200, 90),
    RGB(60, 200, 210), RGB(70, 100, 230), RGB(170, 90, 220), RGB(200, 200, 200),
};
constexpr int checkerSquare = 16;

class SolidBrush {
public:
    explicit SolidBrush(COLORREF colour) : brush_(CreateSolidBrush(colour)) {}
    ~SolidBrush() { DeleteObject(brush_); }
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;
    HBRUSH get() const { return brush_; }

private:
    HBRUSH brush_;
};

void paintPattern(HDC dc, int width, int height) {
    const int bandWidth =
        (width + static_cast<int>(bandColours.size()) - 1) / static_cast<int>(bandColours.size());
    const int checkerTop = height * 3 / 4;
    for (std::size_t band = 0; band < bandColours.size(); ++band) {
        const SolidBrush brush(bandColours[band]);
        const int left = static_cast<int>(band) * bandWidth;
        const RECT area{left, 0, left + bandWidth, checkerTop};
        FillRect(dc, &area, brush.get());
    }
    const SolidBrush light(bandColours[7]);
    const SolidBrush dark(bandColours[5]);
    for (int top = checkerTop; top < height; top += checkerSquare) {
        for (int left = 0; left < width; left += checkerSquare) {
            const bool isLight = ((left + top) / checkerSquare) % 2 == 0;
            const RECT square{left, top, left + checkerSquare, top + checkerSquare};
            FillRect(dc, &square, isLight ? light.get() : dark.get());
        }
    }
}

LRESULT CALLBACK patternWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        paintPattern(dc, client.right, client.bottom);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers every pixel
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

// With the argument "virtual" it covers every monitor (the virtual screen), else the primary one.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = patternWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = windowClassName;
    if (RegisterClassW(&windowClass) == 0) {
        return 1;
    }
    const bool everyMonitor = arguments != nullptr && std::wstring_view(arguments) == L"virtual";
    const HWND window =
        everyMonitor ? CreateWindowExW(0, windowClassName, windowTitle, WS_POPUP | WS_VISIBLE,
                                       GetSystemMetrics(SM_XVIRTUALSCREEN),
                                       GetSystemMetrics(SM_YVIRTUALSCREEN),
                                       GetSystemMetrics(SM_CXVIRTUALSCREEN),
                                       GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr, nullptr,
                                       instance, nullptr)
                     : CreateWindowExW(0, windowClassName, windowTitle, WS_POPUP | WS_VISIBLE, 0, 0,
                                       GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                       nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    // Windows sets a window's cursor when the pointer comes over it; Wine, when a window shown
    // under a still pointer uncovered by another program's going, uses the cursor the thread has
    // set so far, none (which hides it) until the pointer moves. Set once, like a program that
    // has shown its cursor before.
    SetCursor(windowClass.hCursor);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}
