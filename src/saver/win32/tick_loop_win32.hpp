#pragma once

#include <windows.h>

#include "platform/gdi_handles_win32.hpp"
#include "saver/saver_session.hpp"

#include <chrono>
#include <functional>
#include <vector>

namespace zorblinth::win32 {

// What wakes the saver for its ticks.
enum class TickTimerSource {
    // A high-resolution waitable timer (Windows 10 1803 and later), waited on beside the message
    // queue: it wakes within a fraction of a millisecond of the time it is given.
    highResolution,
    // SetTimer, which Windows serves on its 15.6 ms clock: each wake-up comes up to 15.6 ms late.
    // The saver still keeps twenty ticks a second on average, as every tick is due on the fixed
    // grid of the schedule, not 50 ms after the one before.
    windowTimer,
};

// Wakes the saver once, at a time it is given anew for every tick.
class TickTimer {
public:
    // The high-resolution timer unless the window timer is asked for or Windows cannot make one;
    // the window timer's WM_TIMER goes to `window`.
    explicit TickTimer(HWND window, TickTimerSource preferred = TickTimerSource::highResolution);
    TickTimer(const TickTimer&) = delete;
    TickTimer& operator=(const TickTimer&) = delete;
    ~TickTimer() { stop(); }

    TickTimerSource source() const {
        return waitable_ ? TickTimerSource::highResolution : TickTimerSource::windowTimer;
    }
    // Signalled when the wake-up is due; null for the window timer, which posts WM_TIMER.
    HANDLE waitable() const { return waitable_.get(); }
    // Whether a message is the window timer's wake-up.
    bool isWakeUp(const MSG& message) const;

    // Wakes the saver once, `delay` from now (the window timer rounds it up to whole
    // milliseconds, and Windows further to its clock). False when Windows refused.
    bool wakeAfter(std::chrono::steady_clock::duration delay);
    // No more wake-ups, not even one already due: nothing is drawn after the saver ends.
    void stop();

private:
    HWND window_;
    KernelHandle waitable_;
    bool windowTimerSet_ = false;
};

// The thread's message loop while the saver runs: input held back during a tick is handled
// first, then every waiting message, and a tick is drawn whenever the schedule says so; between
// them the thread sleeps until a message or the timer wakes it. A tick that runs past steps of
// the schedule is followed at once by one more, after the messages that came meanwhile; the
// other steps it ran past are not made up (see TickSchedule). Ends as
// soon as `finished` says so after a message, a tick or a wake-up; returns false when the
// window system failed (a wait or the timer).
class TickLoop {
public:
    TickLoop(TickTimer& timer, std::function<void()> drawTick, std::function<bool()> finished)
        : timer_(timer), drawTick_(std::move(drawTick)), finished_(std::move(finished)) {}

    // Input taken out of the queue while a tick drew, to be handled before anything newer.
    std::vector<MSG>& heldInput() { return heldInput_; }

    bool run();

private:
    // Handles the held input, then the queue; false on WM_QUIT or once finished.
    bool handleMessages();
    bool handleHeldInput();
    bool handle(MSG& message);
    // Draws the tick if it is due, and sets the timer for the next one.
    bool tickWhenDue();

    TickTimer& timer_;
    std::function<void()> drawTick_;
    std::function<bool()> finished_;
    std::vector<MSG> heldInput_;
    TickSchedule schedule_{TickSchedule::Clock::now()};
    bool failed_ = false;
};

} // namespace zorblinth::win32
