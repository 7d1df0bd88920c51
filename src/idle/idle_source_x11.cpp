#include "idle/idle_source_linux.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <algorithm>

#include <unistd.h>

namespace zorblinth::idle {

namespace {

// While idle with no saver of ours running (inhibited, or the saver failed), only asking again
// tells that input came; once a second is often enough for that.
constexpr int activityCheckMilliseconds = 1000;

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

// Xlib cannot go on once the connection is lost; the saver, if one runs, is ended by the kernel
// as its watcher goes (see SaverProcess).
int serverGone(Display*) {
    constexpr char line[] = "zorblinth: the X server went away\n";
    [[maybe_unused]] const auto written = write(2, line, sizeof line - 1);
    _exit(3);
}

// Asks the server how long the session has had no input. The server keeps that count itself,
// so between the asks the watcher sleeps: until the timeout could first have run out.
class X11IdleSource final : public IdleSource {
public:
    X11IdleSource(Display* display, long timeout) : display_(display), timeout_(timeout) {
        info_ = XScreenSaverAllocInfo();
    }
    ~X11IdleSource() override {
        if (info_)
            XFree(info_);
        XCloseDisplay(display_);
    }
    X11IdleSource(const X11IdleSource&) = delete;
    X11IdleSource& operator=(const X11IdleSource&) = delete;

    const char* name() const override { return "the X server's idle time"; }
    int fd() const override { return ConnectionNumber(display_); }
    int wakeAfterMilliseconds() const override { return wake_; }
    void setSaverRunning(bool running) override {
        saverRunning_ = running;
        // Its end is input, mostly: check at once.
        wake_ = running ? -1 : 0;
    }
    void restartTimeout() override {
        restartAt_ = idleNow();
        idle_ = false;
        wake_ = 0;
    }

    Event update(bool readable) override {
        if (readable) {
            // Nothing is asked for but the replies, so anything readable is the end of the
            // connection or stray events; both leave through here.
            if (XEventsQueued(display_, QueuedAfterReading) < 0)
                return Event::lost;
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
            }
        }
        if (saverRunning_)
            return Event::none;
        const long idleFor = idleNow();
        if (idleFor < 0)
            return Event::lost;
        // Idle time since the last input, or since the timeout was restarted, if later.
        if (restartAt_ >= 0 && idleFor < restartAt_)
            restartAt_ = -1; // input came since
        const long counted = restartAt_ >= 0 ? idleFor - restartAt_ : idleFor;
        if (idle_) {
            if (counted < lastCounted_) {
                idle_ = false;
                lastCounted_ = counted;
                wake_ = static_cast<int>(std::max(0L, timeout_ - counted));
                return Event::active;
            }
            lastCounted_ = counted;
            wake_ = activityCheckMilliseconds;
            return Event::none;
        }
        lastCounted_ = counted;
        if (counted >= timeout_) {
            idle_ = true;
            wake_ = activityCheckMilliseconds;
            return Event::idle;
        }
        // Input may come meanwhile, which only makes the wait longer: ask again then.
        wake_ = static_cast<int>(timeout_ - counted) + 1;
        return Event::none;
    }

private:
    // -1 when the server is gone.
    long idleNow() {
        if (!XScreenSaverQueryInfo(display_, DefaultRootWindow(display_), info_))
            return -1;
        return static_cast<long>(info_->idle);
    }

    Display* display_;
    long timeout_;
    XScreenSaverInfo* info_ = nullptr;
    bool idle_ = false;
    bool saverRunning_ = false;
    long restartAt_ = -1;
    long lastCounted_ = 0;
    int wake_ = 0;
};

} // namespace

std::unique_ptr<IdleSource> openX11IdleSource(long timeoutMilliseconds) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    int eventBase = 0;
    int errorBase = 0;
    if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase)) {
        XCloseDisplay(display);
        return nullptr;
    }
    XSetErrorHandler(ignoreErrors);
    XSetIOErrorHandler(serverGone);
    return std::make_unique<X11IdleSource>(display, timeoutMilliseconds);
}

} // namespace zorblinth::idle
