// The saver's tick loop on both timers, and what input in the queue cuts a tick short, run under
// Wine on a message-only window (no display needed).
#include <windows.h>

#include "platform/gdi_handles_win32.hpp"
#include "saver/win32/saver_input_win32.hpp"
#include "saver/win32/tick_loop_win32.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using namespace zorblinth;
using namespace zorblinth::win32;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr wchar_t recorderClass[] = L"ZorblinthTestRecorder";

// A message-only window that notes the WM_APP messages dispatched to it.
LRESULT CALLBACK recordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(
                              reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* seen = reinterpret_cast<std::vector<UINT>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (seen != nullptr && message >= WM_APP)
        seen->push_back(message);
    return DefWindowProcW(window, message, wParam, lParam);
}

OwnedWindow messageWindow(std::vector<UINT>* seen = nullptr) {
    static const ATOM registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = recordingProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = recorderClass;
        return RegisterClassExW(&windowClass);
    }();
    EXPECT_NE(registered, 0);
    return OwnedWindow(CreateWindowExW(0, recorderClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       GetModuleHandleW(nullptr), seen));
}

void emptyQueue() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

class TickLoopOnEachTimer : public testing::TestWithParam<TickTimerSource> {};

TEST_P(TickLoopOnEachTimer, ASlowTickDelaysTheNextAndMissedStepsAreNotMadeUp) {
    const OwnedWindow window = messageWindow();
    ASSERT_TRUE(window);
    TickTimer timer(window.get(), GetParam());
    if (timer.source() != GetParam())
        GTEST_SKIP() << "no high-resolution timer on this system";

    std::vector<Clock::time_point> ticks;
    Clock::time_point slowTickEnd{};
    TickLoop loop(
        timer,
        [&] {
            ticks.push_back(Clock::now());
            if (ticks.size() == 2) {
                Sleep(105); // due at 100 ms: past the steps at 150 and 200 ms, not 250 ms
                slowTickEnd = Clock::now();
            }
        },
        [&] { return ticks.size() == 6; });
    const Clock::time_point before = Clock::now();
    ASSERT_TRUE(loop.run());

    ASSERT_EQ(ticks.size(), 6u);
    // The steps each tick is drawn for, 50 ms apart from the loop's start: the slow tick's
    // next is the step at 200 ms; the one at 150 ms is dropped.
    const int steps[] = {1, 2, 4, 5, 6, 7};
    for (int i = 0; i < static_cast<int>(ticks.size()); ++i)
        EXPECT_GE(ticks[i] - before, steps[i] * tickPeriod) << "tick " << i + 1;
    // Delayed, not dropped: it follows the slow tick at once, where waiting for the step at
    // 250 ms would leave a gap of 30 ms or more.
    EXPECT_LT(ticks[2] - slowTickEnd, 20ms);
}

TEST_P(TickLoopOnEachTimer, HandlesHeldInputBeforeNewerMessagesBetweenTicks) {
    std::vector<UINT> seen;
    const OwnedWindow window = messageWindow(&seen);
    ASSERT_TRUE(window);
    TickTimer timer(window.get(), GetParam());
    int drawn = 0;
    TickLoop loop(
        timer,
        [&] {
            if (++drawn > 1)
                return;
            // As a tick's input check leaves it: one message taken out of the queue and held,
            // another arriving after it.
            MSG held{window.get(), WM_APP + 1, 0, 0, 0, {}};
            loop.heldInput().push_back(held);
            PostMessageW(window.get(), WM_APP + 2, 0, 0);
        },
        [&] { return seen.size() == 2 && drawn >= 2; });
    ASSERT_TRUE(loop.run());
    EXPECT_EQ(seen, (std::vector<UINT>{WM_APP + 1, WM_APP + 2}));
    EXPECT_TRUE(loop.heldInput().empty());
}

TEST_P(TickLoopOnEachTimer, AStoppedTimerWakesNobody) {
    const OwnedWindow window = messageWindow();
    ASSERT_TRUE(window);
    emptyQueue();
    TickTimer timer(window.get(), GetParam());
    ASSERT_TRUE(timer.wakeAfter(1ms));
    Sleep(40);
    timer.stop();
    MSG message{};
    EXPECT_FALSE(PeekMessageW(&message, window.get(), WM_TIMER, WM_TIMER, PM_REMOVE));
    if (timer.waitable() != nullptr) {
        EXPECT_EQ(WaitForSingleObject(timer.waitable(), 40), static_cast<DWORD>(WAIT_TIMEOUT));
    }
}

TEST_P(TickLoopOnEachTimer, QuitEndsTheLoop) {
    const OwnedWindow window = messageWindow();
    ASSERT_TRUE(window);
    TickTimer timer(window.get(), GetParam());
    int drawn = 0;
    TickLoop loop(
        timer,
        [&] {
            PostQuitMessage(0);
            ++drawn;
        },
        [] { return false; });
    EXPECT_TRUE(loop.run());
    EXPECT_EQ(drawn, 1);
}

INSTANTIATE_TEST_SUITE_P(Timers, TickLoopOnEachTimer,
                         testing::Values(TickTimerSource::highResolution,
                                         TickTimerSource::windowTimer),
                         [](const auto& info) {
                             return info.param == TickTimerSource::highResolution ? "HighResolution"
                                                                                  : "WindowTimer";
                         });

// A queue of input for a message-only window, and the input check a tick would make on it.
class QueuedInput : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_);
        emptyQueue();
        POINT origin{};
        ClientToScreen(window_.get(), &origin);
        start_ = {origin.x + 10, origin.y + 20};
        GetKeyboardState(keyboard_);
    }
    void TearDown() override {
        SetKeyboardState(keyboard_);
        emptyQueue();
    }

    void post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        PostMessageW(window_.get(), message, wParam, lParam);
    }
    void postKeyDown(UINT virtualKey) {
        post(WM_KEYDOWN, virtualKey,
             static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16 | 1);
    }
    static LPARAM clientPoint(int x, int y) { return MAKELPARAM(x, y); }

    // Whether a tick would stop now, with a fresh session started at start_.
    bool tickStops() {
        const SaverSession session(start_, SaverSettings{1, 1});
        return EndingInputWatch(session, held_)();
    }
    std::vector<UINT> heldMessages() const {
        std::vector<UINT> messages;
        for (const MSG& message : held_)
            messages.push_back(message.message);
        return messages;
    }

    OwnedWindow window_ = messageWindow();
    Point start_{};
    BYTE keyboard_[256]{};
    std::vector<MSG> held_;
};

TEST_F(QueuedInput, InputThatTypesNothingLeavesTheTickWholeAndIsHeldInOrder) {
    postKeyDown(VK_SHIFT);
    post(WM_KEYUP, VK_SHIFT);
    postKeyDown(VK_LEFT);
    postKeyDown(VK_F5);
    postKeyDown(VK_DELETE);
    postKeyDown(VK_CONTROL);
    post(WM_SYSKEYDOWN, 'A', MapVirtualKeyW('A', MAPVK_VK_TO_VSC) << 16 | 1 << 29);
    post(WM_SYSCHAR, 'a');
    post(WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), clientPoint(10, 20));
    post(WM_MOUSEHWHEEL, MAKEWPARAM(0, WHEEL_DELTA), clientPoint(10, 20));
    post(WM_MOUSEMOVE, 0, clientPoint(10, 20));

    EXPECT_FALSE(tickStops());
    EXPECT_EQ(heldMessages(), (std::vector<UINT>{WM_KEYDOWN, WM_KEYUP, WM_KEYDOWN, WM_KEYDOWN,
                                                 WM_KEYDOWN, WM_KEYDOWN, WM_SYSKEYDOWN, WM_SYSCHAR,
                                                 WM_MOUSEWHEEL, WM_MOUSEHWHEEL, WM_MOUSEMOVE}));
    MSG left{};
    EXPECT_FALSE(PeekMessageW(&left, nullptr, 0, 0, PM_NOREMOVE)) << "left in the queue";

    // A letter behind all of them is seen, and held last for the loop to end the saver with.
    postKeyDown(VK_SHIFT);
    postKeyDown('A');
    EXPECT_TRUE(tickStops());
    EXPECT_EQ(held_.back().message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(held_.back().wParam, static_cast<WPARAM>('A'));
}

TEST_F(QueuedInput, CharacterKeysButtonsAndMovesAwayStopTheTick) {
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    const auto keyData = [](UINT virtualKey) {
        return static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16 | 1;
    };
    const Case cases[] = {
        {"letter", WM_KEYDOWN, 'Q', keyData('Q')},
        {"digit", WM_KEYDOWN, '7', keyData('7')},
        {"space", WM_KEYDOWN, VK_SPACE, keyData(VK_SPACE)},
        {"Enter", WM_KEYDOWN, VK_RETURN, keyData(VK_RETURN)},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, keyData(VK_ESCAPE)},
        {"Backspace", WM_KEYDOWN, VK_BACK, keyData(VK_BACK)},
        {"translated character", WM_CHAR, 'z', 0},
        {"left button", WM_LBUTTONDOWN, MK_LBUTTON, clientPoint(10, 20)},
        {"right button", WM_RBUTTONDOWN, MK_RBUTTON, clientPoint(10, 20)},
        {"middle button", WM_MBUTTONDOWN, MK_MBUTTON, clientPoint(10, 20)},
        {"extra button", WM_XBUTTONDOWN, MAKEWPARAM(0, XBUTTON2), clientPoint(10, 20)},
        {"move right", WM_MOUSEMOVE, 0, clientPoint(11, 20)},
        {"move up", WM_MOUSEMOVE, 0, clientPoint(10, 19)},
    };
    for (const Case& input : cases) {
        SCOPED_TRACE(input.what);
        emptyQueue();
        held_.clear();
        post(input.message, input.wParam, input.lParam);
        EXPECT_TRUE(tickStops());
        EXPECT_EQ(heldMessages(), std::vector<UINT>{input.message});
    }
}

TEST_F(QueuedInput, CtrlCombinationsTypeCharactersAsTheKeyboardStandsBehindEarlierKeys) {
    BYTE keyboard[256]{};
    keyboard[VK_CONTROL] = keyboard[VK_LCONTROL] = 0x80;
    ASSERT_TRUE(SetKeyboardState(keyboard));
    // Ctrl alone types nothing; Ctrl+Backspace types the one character the Delete key would
    // give elsewhere, and ends the saver as every Ctrl combination does.
    postKeyDown(VK_CONTROL);
    EXPECT_FALSE(tickStops());
    postKeyDown(VK_BACK);
    EXPECT_TRUE(tickStops());
    held_.clear();
    postKeyDown('C');
    EXPECT_TRUE(tickStops());
}

TEST_F(QueuedInput, DeliveredCharactersFollowTheSameRule) {
    const SaverSession session(start_, SaverSettings{1, 1});
    const auto ends = [&](UINT message, WPARAM wParam) {
        const auto event = inputEventOf(window_.get(), message, wParam, 0);
        return event && session.endsSaver(*event);
    };
    EXPECT_TRUE(ends(WM_CHAR, 'a'));
    EXPECT_TRUE(ends(WM_CHAR, 0x7F)); // Ctrl+Backspace
    EXPECT_TRUE(ends(WM_CHAR, 0x1B));
    EXPECT_FALSE(ends(WM_SYSCHAR, 'a')); // Alt+a
    EXPECT_FALSE(ends(WM_KEYDOWN, 'A')); // its character comes as WM_CHAR
    EXPECT_FALSE(ends(WM_MOUSEWHEEL, 0));
    EXPECT_TRUE(ends(WM_XBUTTONDOWN, MAKEWPARAM(0, XBUTTON1)));
}

TEST_F(QueuedInput, AnEndingSaverStopsTheTickWithoutInput) {
    SaverSession session(start_, SaverSettings{1, 1});
    session.end();
    EXPECT_TRUE(EndingInputWatch(session, held_)());
    EXPECT_TRUE(held_.empty());
}

} // namespace
