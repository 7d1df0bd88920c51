#pragma once

#include <memory>
#include <string>

namespace zorblinth::idle {

// One way of learning that the session has had no input for the timeout: a Wayland protocol,
// GNOME's idle monitor, or the X server's idle time. The watcher polls fd() (and wakes after
// wakeAfterMilliseconds() when that is not negative), then calls update().
class IdleSource {
public:
    enum class Event {
        none,
        idle,   // no input for the whole timeout
        active, // input again after idle
        lost,   // the compositor, server or bus went away
    };

    virtual ~IdleSource() = default;
    virtual const char* name() const = 0;
    virtual int fd() const = 0;
    // -1: only fd() wakes the watcher.
    virtual int wakeAfterMilliseconds() const = 0;
    // Reads what arrived (readable: fd() had data) and tells what changed.
    virtual Event update(bool readable) = 0;
    // Counts the timeout again from now (after the last inhibit ended).
    virtual void restartTimeout() = 0;
    // While our own saver runs, its end is what counts: a source that checks by asking may
    // stop asking.
    virtual void setSaverRunning(bool) {}
    // Whether an inhibit is held: a source whose count others can hold too holds it, so that
    // what else the count drives waits as well.
    virtual void setInhibited(bool) {}
};

// The compositor of $WAYLAND_DISPLAY through ext_idle_notifier_v1, else org_kde_kwin_idle.
// reached tells whether a compositor answered at all: under one, X11's idle time (XWayland's)
// would see only its own clients' input. Null when there is neither protocol.
std::unique_ptr<IdleSource> openWaylandIdleSource(long timeoutMilliseconds, bool& reached);

// GNOME's idle monitor (org.gnome.Mutter.IdleMonitor) on the session bus. Null when it is not
// there.
std::unique_ptr<IdleSource> openMutterIdleSource(long timeoutMilliseconds);

// The X server's own screen saver (MIT-SCREEN-SAVER), on $DISPLAY, with the watcher's timeout
// and the watcher as its external saver until the source goes. Null when there is no X display
// or no such extension.
std::unique_ptr<IdleSource> openX11IdleSource(long timeoutMilliseconds);

} // namespace zorblinth::idle
