#include "idle/idle_source_linux.hpp"
#include "idle/server_saver.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <iostream>
#include <optional>

#include <unistd.h>

namespace zorblinth::idle {

namespace {

using Clock = std::chrono::steady_clock;

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

// Xlib cannot go on once the connection is lost; the saver, if one runs, is ended by the kernel
// as its watcher goes (see SaverProcess). What the watcher changed went with the server.
int serverGone(Display*) {
    constexpr char line[] = "zorblinth: the X server went away\n";
    [[maybe_unused]] const auto written = write(2, line, sizeof line - 1);
    _exit(3);
}

ServerSaverSettings settingsOf(Display* display) {
    ServerSaverSettings settings;
    XGetScreenSaver(display, &settings.timeoutSeconds, &settings.intervalSeconds,
                    &settings.preferBlanking, &settings.allowExposures);
    return settings;
}

void apply(Display* display, const ServerSaverSettings& settings) {
    XSetScreenSaver(display, settings.timeoutSeconds, settings.intervalSeconds,
                    settings.preferBlanking, settings.allowExposures);
}

// The user's settings, kept on the root while the watcher runs, so that a watcher started after
// one that was killed puts back the user's and not the killed watcher's.
constexpr char recordName[] = "_ZORBLINTH_USER_SCREEN_SAVER";

std::optional<ServerSaverSettings> recordedSettings(Display* display, Atom record) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<ServerSaverSettings> recorded;
    if (XGetWindowProperty(display, DefaultRootWindow(display), record, 0, 4, False, XA_CARDINAL,
                           &type, &format, &count, &after, &data) == Success &&
        type == XA_CARDINAL && format == 32 && count == 4) {
        // Format 32 comes as longs.
        const auto* values = reinterpret_cast<const long*>(data);
        recorded = ServerSaverSettings{static_cast<int>(values[0]), static_cast<int>(values[1]),
                                       static_cast<int>(values[2]), static_cast<int>(values[3])};
    }
    if (data)
        XFree(data);
    return recorded;
}

void record(Display* display, Atom record, const ServerSaverSettings& settings) {
    const long values[] = {settings.timeoutSeconds, settings.intervalSeconds,
                           settings.preferBlanking, settings.allowExposures};
    XChangeProperty(display, DefaultRootWindow(display), record, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values), 4);
}

bool serverSaverOn(Display* display) {
    XScreenSaverInfo info{};
    return XScreenSaverQueryInfo(display, DefaultRootWindow(display), &info) &&
           info.state == ScreenSaverOn;
}

// The server's saver goes off as at input, and counts again from now.
void resetServerSaver(Display* display) {
    XForceScreenSaver(display, ScreenSaverReset);
}

// The X server's own screen saver, taken over for as long as this lives: its timeout is the
// watcher's, and it neither blanks nor tiles the screen when it comes on, so the screen stays as
// it was until our saver covers it (and the saver's picture of the desktop is the desktop). It
// still comes on, and says so to the clients that asked (ScreenSaverNotify). Everything is put
// back at the end.
//
// Not the extension's external saver window (XScreenSaverSetAttributes): while that is mapped
// the server takes the topmost child of the root for it and leaves it out of XQueryTree, so our
// saver's own windows would vanish from every window list while they show.
class ServerSaver {
public:
    ServerSaver(Display* display, long timeoutSeconds)
        : display_(display), record_(XInternAtom(display, recordName, False)),
          user_(userSettings(settingsOf(display), recordedSettings(display, record_))),
          set_(watcherSettings(timeoutSeconds)) {
        // A screen the server blanked before would stay blanked under the saver.
        if (serverSaverOn(display_))
            resetServerSaver(display_);
        record(display_, record_, user_);
        apply(display_, set_);
        XScreenSaverSelectInput(display_, DefaultRootWindow(display_), ScreenSaverNotifyMask);
        XSync(display_, False);
    }
    ~ServerSaver() {
        // Off first: the user's settings start from a screen nobody saves.
        if (serverSaverOn(display_))
            resetServerSaver(display_);
        if (const auto restore = settingsToRestore(user_, set_, settingsOf(display_)))
            apply(display_, *restore);
        XDeleteProperty(display_, DefaultRootWindow(display_), record_);
        XSync(display_, False);
    }
    ServerSaver(const ServerSaver&) = delete;
    ServerSaver& operator=(const ServerSaver&) = delete;

private:
    Display* display_;
    Atom record_;
    ServerSaverSettings user_;
    ServerSaverSettings set_;
};

// The server counts, and tells when its saver comes on (ScreenSaverNotify On: the timeout ran
// out, or `xset s activate`) and goes off (input, or a reset): nothing to ask, nothing to wake
// for, but the rest of a timeout longer than the server counts.
class X11IdleSource final : public IdleSource {
public:
    X11IdleSource(Display* display, int eventBase, long timeoutSeconds)
        : display_(display, XCloseDisplay), notifyEvent_(eventBase + ScreenSaverNotify),
          timeoutSeconds_(timeoutSeconds), saver_(display, timeoutSeconds) {}

    const char* name() const override { return "the X server's screen saver"; }
    int fd() const override { return ConnectionNumber(display_.get()); }
    int wakeAfterMilliseconds() const override {
        if (!idleAt_)
            return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*idleAt_ - Clock::now());
        return static_cast<int>(std::max(0L, static_cast<long>(left.count())));
    }
    void restartTimeout() override {
        // As if input came: the server's saver goes off and counts again from now.
        resetServerSaver(display_.get());
        XFlush(display_.get());
        idleAt_.reset();
    }
    void setInhibited(bool inhibited) override {
        // The bus's inhibits hold the server's count as a player's own suspension does; the
        // server drops it with the connection, however the watcher ends.
        if (inhibited == suspended_)
            return;
        XScreenSaverSuspend(display_.get(), inhibited);
        XFlush(display_.get());
        suspended_ = inhibited;
    }

    Event update(bool) override {
        Display* const display = display_.get();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == notifyEvent_)
                told(reinterpret_cast<const XScreenSaverNotifyEvent&>(event));
        }
        if (idleAt_ && Clock::now() >= *idleAt_) {
            idleAt_.reset();
            events_.push_back(Event::idle);
        }
        if (events_.empty())
            return Event::none;
        const Event next = events_.front();
        events_.pop_front();
        return next;
    }

private:
    void told(const XScreenSaverNotifyEvent& notify) {
        if (notify.state == ScreenSaverOff) {
            idleAt_.reset();
            events_.push_back(Event::active);
        } else if (notify.state == ScreenSaverOn) {
            const long more = idleAfterServerSaverMilliseconds(timeoutSeconds_, notify.forced);
            if (more == 0)
                events_.push_back(Event::idle);
            else
                idleAt_ = Clock::now() + std::chrono::milliseconds(more);
        }
    }

    std::unique_ptr<Display, decltype(&XCloseDisplay)> display_;
    int notifyEvent_;
    long timeoutSeconds_;
    ServerSaver saver_; // after the connection: put back before it closes
    bool suspended_ = false;
    std::optional<Clock::time_point> idleAt_;
    std::deque<Event> events_;
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
    return std::make_unique<X11IdleSource>(display, eventBase, timeoutMilliseconds / 1000);
}

} // namespace zorblinth::idle
