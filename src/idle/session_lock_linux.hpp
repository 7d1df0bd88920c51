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
    bool lockedOrBlanked(sd_bus* sessionBus, bool askFreedesktopScreenSaver) const;

private:
    std::optional<posix::LogindSession> logind_;
};

} // namespace zorblinth::idle
