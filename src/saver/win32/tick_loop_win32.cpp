#include "saver/win32/tick_loop_win32.hpp"

// Older MinGW-w64 headers lack the flag; Windows before 10 (1803) refuses it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace zorblinth::win32 {

namespace {

constexpr UINT_PTR timer1 = 1;

KernelHandle highResolutionTimer() {
    return KernelHandle(CreateWaitableTimerExW(
        nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
}

// SetWaitableTimer counts in 100 ns units, a negative time being relative to now.
LARGE_INTEGER relativeDueTime(std::chrono::steady_clock::duration delay) {
    using Units = std::chrono::duration<long long, std::ratio<1, 10'000'000>>;
    const long long units = std::chrono::ceil<Units>(delay).count();
    LARGE_INTEGER due{};
    due.QuadPart = -(units > 0 ? units : 1);
    return due;
}

UINT wholeMilliseconds(std::chrono::steady_clock::duration delay) {
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
    return milliseconds > 0 ? static_cast<UINT>(milliseconds) : 1;
}

} // namespace

TickTimer::TickTimer(HWND window, TickTimerSource preferred) : window_(window) {
    if (preferred == TickTimerSource::highResolution)
        waitable_ = highResolutionTimer();
}

bool TickTimer::isWakeUp(const MSG& message) const {
    return !waitable_ && message.message == WM_TIMER && message.hwnd == window_ &&
           message.wParam == timer1;
}

bool TickTimer::wakeAfter(std::chrono::steady_clock::duration delay) {
    if (waitable_) {
        const LARGE_INTEGER due = relativeDueTime(delay);
        return SetWaitableTimer(waitable_.get(), &due, 0, nullptr, nullptr, FALSE) != 0;
    }
    // Setting it again replaces the one before, so it fires once at the new time.
    windowTimerSet_ = SetTimer(window_, timer1, wholeMilliseconds(delay), nullptr) != 0;
    return windowTimerSet_;
}

void TickTimer::stop() {
    if (waitable_) {
        CancelWaitableTimer(waitable_.get());
        // Cancelling leaves a timer already signalled so; a wait that finds it resets it.
        WaitForSingleObject(waitable_.get(), 0);
    } else if (windowTimerSet_) {
        // KillTimer also drops a WM_TIMER already queued.
        KillTimer(window_, timer1);
        windowTimerSet_ = false;
    }
}

bool TickLoop::run() {
    schedule_ = TickSchedule(TickSchedule::Clock::now());
    if (!timer_.wakeAfter(schedule_.untilNext(TickSchedule::Clock::now())))
        return false;
    while (handleMessages()) {
        HANDLE waitable = timer_.waitable();
        const DWORD handles = waitable ? 1 : 0;
        // MWMO_INPUTAVAILABLE: input that arrived while a tick drew, and was seen but left in
        // the queue, wakes it too.
        const DWORD woken = MsgWaitForMultipleObjectsEx(handles, &waitable, INFINITE, QS_ALLINPUT,
                                                        MWMO_INPUTAVAILABLE);
        if (woken == WAIT_FAILED)
            return false;
        // With both signalled, the timer comes first: a stream of messages cannot hold back the
        // ticks, and the messages are handled right after it.
        if (handles == 1 && woken == WAIT_OBJECT_0 && !tickWhenDue())
            return false;
    }
    return !failed_;
}

bool TickLoop::handleMessages() {
    MSG message{};
    for (;;) {
        // Before every newer message: a tick drawn on a window timer's wake-up may have held
        // some back.
        if (!handleHeldInput())
            return false;
        if (finished_() || !PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            break;
        if (!handle(message))
            return false;
    }
    // A message sent to the window, handled inside PeekMessage, may have ended the saver too.
    return !finished_() && !failed_;
}

bool TickLoop::handleHeldInput() {
    while (!heldInput_.empty()) {
        std::vector<MSG> held;
        held.swap(heldInput_);
        for (MSG& message : held)
            if (!handle(message))
                return false;
    }
    return true;
}

bool TickLoop::handle(MSG& message) {
    if (message.message == WM_QUIT)
        return false;
    if (timer_.isWakeUp(message)) {
        if (!tickWhenDue())
            return false;
    } else {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return !finished_();
}

bool TickLoop::tickWhenDue() {
    if (finished_())
        return true;
    if (schedule_.due(TickSchedule::Clock::now())) {
        drawTick_();
        schedule_.ticked(TickSchedule::Clock::now());
        if (finished_())
            return true;
    }
    // Early wake-ups (a window timer's rounding) just wait for the rest.
    failed_ = !timer_.wakeAfter(schedule_.untilNext(TickSchedule::Clock::now()));
    return !failed_;
}

} // namespace zorblinth::win32
