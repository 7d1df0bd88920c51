// Reads and operates the settings dialog of a running Zorblinth from another process, and checks
// that a running saver answers, counts its ticks and holds it the moment its window exists, for
// the end-to-end tests. Prints UTF-8, one key=value a line;
// backslashes, CR and LF in values are written as \\, \r and \n so every value stays on its line.
//
// Exit statuses: 0 done, 2 bad command line, 3 no dialog within 10 s, 4 no message box within
// 10 s, 5 the process (or the saver's thread) could not be opened, 6 no saver window within 10 s
// (20 s when holding it).

#include <windows.h>

#include "dialog/control_ids_win32.hpp"
#include "dialog/dialog_model.hpp"
#include "platform/gdi_handles_win32.hpp"
#include "saver/win32/saver_window_win32.hpp"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zorblinth::dialog::Control;

constexpr auto waitLimit = 10s;
constexpr UINT replyTimeoutMs = 5000;
constexpr int messageBoxTextId = 0xFFFF; // the static text of a standard message box

enum Status : int {
    done = 0,
    usage = 2,
    noDialog = 3,
    noMessageBox = 4,
    noProcess = 5,
    noSaver = 6
};

constexpr Control controls[] = {Control::lineWidthBar,    Control::lineWidthLabel,
                                Control::lineAmountLabel, Control::lineAmountBar,
                                Control::fewLabel,        Control::manyLabel,
                                Control::setButton,       Control::cancelButton};

std::string_view controlName(Control control) {
    constexpr std::string_view names[] = {"hscroll1", "label1", "label2",   "hscroll2",
                                          "label3",   "label4", "command1", "command2"};
    return names[static_cast<int>(control)];
}

std::string utf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

void print(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    for (char c : value) {
        if (c == '\\')
            line += "\\\\";
        else if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void print(std::string_view key, std::wstring_view value) {
    print(key, std::string_view(utf8(value)));
}
void print(std::string_view key, long long value) {
    print(key, std::string_view(std::to_string(value)));
}

void printHex(std::string_view key, unsigned long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", value);
    print(key, std::string_view(text));
}

void printRect(std::string_view key, const RECT& rect) {
    print(key, std::string_view(std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                                std::to_string(rect.right - rect.left) + "," +
                                std::to_string(rect.bottom - rect.top)));
}

// Empty when the window does not answer (gone, or its thread hung).
std::optional<std::wstring> windowText(HWND window) {
    wchar_t text[512] = {};
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, replyTimeoutMs, &copied) == 0)
        return std::nullopt;
    return std::wstring(text, std::min<std::size_t>(copied, std::size(text) - 1));
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

bool isDialogBox(HWND window) {
    return className(window) == L"#32770";
}

// The settings dialog: the dialog-class window with the exact title that holds HScroll1, so the
// error message box (a dialog of the same process) is never taken for it.
HWND findDialogOnce() {
    struct Search {
        std::wstring title;
        HWND found = nullptr;
    } search{std::wstring(zorblinth::dialog::title.begin(), zorblinth::dialog::title.end())};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto& wanted = *reinterpret_cast<Search*>(context);
            wchar_t title[128] = {};
            GetWindowTextW(window, title, static_cast<int>(std::size(title)));
            if (title == wanted.title && isDialogBox(window) && IsWindowVisible(window) &&
                GetDlgItem(window, zorblinth::win32::controlId(Control::lineWidthBar)) != nullptr) {
                wanted.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <typename Find> auto waitFor(Find find) -> decltype(find()) {
    const auto deadline = std::chrono::steady_clock::now() + waitLimit;
    for (;;) {
        if (auto found = find(); found != nullptr || std::chrono::steady_clock::now() >= deadline)
            return found;
        std::this_thread::sleep_for(100ms);
    }
}

HWND control(HWND dialog, Control which) {
    return GetDlgItem(dialog, zorblinth::win32::controlId(which));
}

std::string_view focusName(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info))
        return "";
    for (Control which : controls)
        if (info.hwndFocus != nullptr && info.hwndFocus == control(dialog, which))
            return controlName(which);
    return info.hwndFocus == dialog ? "dialog" : info.hwndFocus == nullptr ? "" : "other";
}

// The face of the dialog's font; GDI handles may not be readable from another process, in which
// case the face is printed empty.
std::wstring fontFace(HWND dialog) {
    DWORD_PTR font = 0;
    SendMessageTimeoutW(dialog, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG, replyTimeoutMs, &font);
    LOGFONTW description{};
    if (font == 0 ||
        GetObjectW(reinterpret_cast<HFONT>(font), sizeof description, &description) == 0)
        return {};
    return description.lfFaceName;
}

void printBar(HWND dialog, Control which) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_POS;
    GetScrollInfo(control(dialog, which), SB_CTL, &info);
    const std::string name(controlName(which));
    print(name, static_cast<long long>(info.nPos));
    print(name + "_min", static_cast<long long>(info.nMin));
    print(name + "_max", static_cast<long long>(info.nMax));
}

void printState(HWND dialog) {
    const auto title = windowText(dialog);
    if (!title) {
        print("open", 0LL);
        return;
    }
    print("open", 1LL);
    print("title", *title);
    for (Control which : controls)
        if (which != Control::lineWidthBar && which != Control::lineAmountBar)
            print(controlName(which), windowText(control(dialog, which)).value_or(L""));
    printBar(dialog, Control::lineWidthBar);
    printBar(dialog, Control::lineAmountBar);
    print("focus", focusName(dialog));

    RECT client{};
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    printRect("client", client);
    for (Control which : controls) {
        RECT rect{};
        GetWindowRect(control(dialog, which), &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        printRect("rect_" + std::string(controlName(which)), rect);
    }
    printHex("style", static_cast<unsigned long long>(GetWindowLongPtrW(dialog, GWL_STYLE)));
    printHex("exstyle", static_cast<unsigned long long>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    print("font", fontFace(dialog));
}

// Lets the dialog's thread handle what was posted to it before anything is read back.
void settle(HWND dialog) {
    std::this_thread::sleep_for(300ms);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, replyTimeoutMs, &ignored);
}

std::optional<WORD> scrollRequest(std::wstring_view name) {
    constexpr std::pair<std::wstring_view, WORD> requests[] = {{L"lineleft", SB_LINELEFT},
                                                               {L"lineright", SB_LINERIGHT},
                                                               {L"pageleft", SB_PAGELEFT},
                                                               {L"pageright", SB_PAGERIGHT},
                                                               {L"left", SB_LEFT},
                                                               {L"right", SB_RIGHT},
                                                               {L"thumbtrack", SB_THUMBTRACK},
                                                               {L"thumbposition", SB_THUMBPOSITION},
                                                               {L"endscroll", SB_ENDSCROLL}};
    for (const auto& [text, request] : requests)
        if (text == name)
            return request;
    return std::nullopt;
}

// scroll <1|2> <request> [position]: WM_HSCROLL as the bar itself sends it.
int scroll(HWND dialog, int argc, wchar_t** argv) {
    const std::wstring_view bar = argc > 2 ? argv[2] : L"";
    const auto request = scrollRequest(argc > 3 ? argv[3] : L"");
    const bool needsPosition = request == SB_THUMBTRACK || request == SB_THUMBPOSITION;
    if ((bar != L"1" && bar != L"2") || !request || (needsPosition && argc < 5))
        return usage;
    const WORD position = needsPosition ? static_cast<WORD>(_wtoi(argv[4])) : 0;
    const HWND barWindow =
        control(dialog, bar == L"1" ? Control::lineWidthBar : Control::lineAmountBar);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(dialog, WM_HSCROLL, MAKEWPARAM(*request, position),
                        reinterpret_cast<LPARAM>(barWindow), SMTO_ABORTIFHUNG, replyTimeoutMs,
                        &ignored);
    printState(dialog);
    return done;
}

// Posted, not sent: "設定" may open a message box and must not hold the driver.
int click(HWND dialog, std::wstring_view button) {
    if (button != L"set" && button != L"cancel")
        return usage;
    PostMessageW(control(dialog, button == L"set" ? Control::setButton : Control::cancelButton),
                 BM_CLICK, 0, 0);
    print("sent", 1LL);
    settle(dialog);
    print("open", IsWindow(dialog) ? 1LL : 0LL);
    return done;
}

int key(HWND dialog, std::wstring_view name) {
    if (name != L"escape" && name != L"enter")
        return usage;
    const WPARAM virtualKey = name == L"escape" ? VK_ESCAPE : VK_RETURN;
    const LPARAM scanCode = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(virtualKey), 0))
                            << 16;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    const HWND target = info.hwndFocus != nullptr ? info.hwndFocus : dialog;
    PostMessageW(target, WM_KEYDOWN, virtualKey, scanCode | 1);
    PostMessageW(target, WM_KEYUP, virtualKey, scanCode | 1 | (1LL << 30) | (1LL << 31));
    settle(dialog);
    printState(dialog);
    return done;
}

// Reads the message box the dialog opened, then presses its OK button.
int messageBox(HWND dialog) {
    const HWND box = waitFor([dialog] {
        HWND found = nullptr;
        for (HWND window = GetTopWindow(nullptr); window != nullptr && found == nullptr;
             window = GetWindow(window, GW_HWNDNEXT))
            if (window != dialog && isDialogBox(window) && GetWindow(window, GW_OWNER) == dialog &&
                IsWindowVisible(window))
                found = window;
        return found;
    });
    if (box == nullptr)
        return noMessageBox;
    print("title", windowText(box).value_or(L""));
    print("text", windowText(GetDlgItem(box, messageBoxTextId)).value_or(L""));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return done;
}

int guiObjects(std::wstring_view pidText) {
    const auto pid = static_cast<DWORD>(std::wcstoul(std::wstring(pidText).c_str(), nullptr, 10));
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return noProcess;
    print("gdi_objects", static_cast<long long>(GetGuiResources(process, GR_GDIOBJECTS)));
    print("user_objects", static_cast<long long>(GetGuiResources(process, GR_USEROBJECTS)));
    CloseHandle(process);
    return done;
}

HWND findSaver() {
    return FindWindowW(L"ZorblinthSaver", nullptr);
}

// Sends the saver's window a message that does nothing, a few times over a second, as the window
// system does: a saver busy drawing must still answer, and soon.
int saverAnswers() {
    const HWND saver = waitFor(findSaver);
    if (saver == nullptr)
        return noSaver;
    constexpr int sends = 5;
    long long answered = 0;
    long long slowest = 0;
    for (int i = 0; i < sends; ++i) {
        const auto start = std::chrono::steady_clock::now();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(saver, WM_NULL, 0, 0, SMTO_NORMAL, replyTimeoutMs, &result) != 0)
            ++answered;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        slowest = std::max<long long>(slowest, took.count());
        std::this_thread::sleep_for(200ms);
    }
    print("answered", answered);
    print("slowest_ms", slowest);
    return done;
}

// The saver's tick counts so far, from its window's properties.
int saverTicks() {
    const HWND saver = waitFor(findSaver);
    if (saver == nullptr)
        return noSaver;
    print("drawn",
          reinterpret_cast<long long>(GetPropW(saver, zorblinth::win32::ticksDrawnProperty)));
    print("cut", reinterpret_cast<long long>(GetPropW(saver, zorblinth::win32::ticksCutProperty)));
    return done;
}

// Every saver window shown, one per monitor, in the order the window system lists them: its
// rectangle on the virtual screen, its title and its tick counts.
int saverMonitors() {
    if (waitFor(findSaver) == nullptr)
        return noSaver;
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            if (className(window) == L"ZorblinthSaver" && IsWindowVisible(window))
                reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    print("windows", static_cast<long long>(windows.size()));
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const std::string n = std::to_string(i);
        RECT rect{};
        GetWindowRect(windows[i], &rect);
        printRect("rect_" + n, rect);
        print("title_" + n, windowText(windows[i]).value_or(L""));
        print("drawn_" + n, reinterpret_cast<long long>(
                                GetPropW(windows[i], zorblinth::win32::ticksDrawnProperty)));
        print("cut_" + n, reinterpret_cast<long long>(
                              GetPropW(windows[i], zorblinth::win32::ticksCutProperty)));
    }
    return done;
}

// Waits for the saver's window to be made, looking every millisecond, and at once stops the
// thread that made it: the test then moves the pointer for real, with the window still hidden
// (SetCursorPos under Wine mostly leaves the X pointer where it was, and answers with the
// position it was asked for only for a moment). The thread goes on when a line comes in.
int holdSaverWhenItExists() {
    print("waiting", 1LL);
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + 2 * waitLimit;
    HWND saver = nullptr;
    while ((saver = findSaver()) == nullptr) {
        if (std::chrono::steady_clock::now() >= deadline)
            return noSaver;
        Sleep(1);
    }
    const zorblinth::win32::KernelHandle thread(
        OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(saver, nullptr)));
    if (!thread || SuspendThread(thread.get()) == static_cast<DWORD>(-1))
        return noProcess;
    print("visible_when_held", IsWindowVisible(saver) ? 1LL : 0LL);
    std::fflush(stdout);
    char line[16];
    std::fgets(line, sizeof line, stdin);
    ResumeThread(thread.get());
    return done;
}

int run(int argc, wchar_t** argv) {
    const std::wstring_view command = argc > 1 ? argv[1] : L"";
    if (command == L"gdi-objects")
        return argc > 2 ? guiObjects(argv[2]) : usage;
    if (command == L"saver-answers")
        return saverAnswers();
    if (command == L"saver-ticks")
        return saverTicks();
    if (command == L"saver-monitors")
        return saverMonitors();
    if (command == L"hold-saver-when-it-exists")
        return holdSaverWhenItExists();
    if (command != L"state" && command != L"scroll" && command != L"click" && command != L"close" &&
        command != L"key" && command != L"messagebox" && command != L"pid")
        return usage;

    const HWND dialog = waitFor(findDialogOnce);
    if (dialog == nullptr)
        return noDialog;
    if (command == L"state") {
        printState(dialog);
        return done;
    }
    if (command == L"pid") {
        DWORD pid = 0;
        GetWindowThreadProcessId(dialog, &pid);
        print("pid", static_cast<long long>(pid));
        return done;
    }
    if (command == L"scroll")
        return scroll(dialog, argc, argv);
    if (command == L"click")
        return argc > 2 ? click(dialog, argv[2]) : usage;
    if (command == L"key")
        return argc > 2 ? key(dialog, argv[2]) : usage;
    if (command == L"messagebox")
        return messageBox(dialog);
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); // close
    settle(dialog);
    print("open", IsWindow(dialog) ? 1LL : 0LL);
    return done;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY); // UTF-8 bytes and bare LF, untranslated
    const int status = run(argc, argv);
    if (status == usage)
        std::fputs("usage: zorblinth_test_driver state | pid | scroll <1|2> <lineleft|lineright|"
                   "pageleft|pageright|left|right|endscroll|thumbtrack N|thumbposition N> | "
                   "click <set|cancel> | close | key <escape|enter> | messagebox | "
                   "gdi-objects PID | saver-answers | saver-ticks | saver-monitors |"
                   " hold-saver-when-it-exists\n",
                   stderr);
    return status;
}
