#pragma once

#include "platform/logind_session_linux.hpp"

#include <optional>

namespace zorblinth::idle {

// Whether the session is locked, or the desktop's own blank is up. The saver must not start
// then: it would run unseen behind the lock or the blank, and the screenshot portal would hand
// it the black screen as the desktop's picture.
class SessionLock {
public:
    // Finds our session in logind. Without logind the lock check is skipped, said in one line
    // only when verbose.
    static SessionLock open(bool verbose);

    // Asked before each start, each question with a deadline: logind's LockedHint, then on the
    // session bus (when there is one) GNOME's and the freedesktop ScreenSaver's GetActive. The
    // latter only where someone else owns that name: the watcher's own never says yes.
    bool lockedOrBlanked(sd_bus* sessionBus, bool askFreedesktopScreenSaver);

    // The lock as it comes, for the watcher's poll: logind's connection, -1 without logind.
    int fd() const { return logind_ ? logind_->fd() : -1; }
    short events() const { return logind_ ? logind_->events() : short{0}; }
    int timeoutMilliseconds() const { return logind_ ? logind_->timeoutMilliseconds() : -1; }
    // Handles what logind said; whether the session was locked since the last call. A system
    // bus that went away takes the lock check with it.
    bool takeLocked();

private:
    std::optional<posix::LogindSession> logind_;
    bool verbose_ = false;
};

} // namespace zorblinth::idle
