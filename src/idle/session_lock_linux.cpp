#include "idle/session_lock_linux.hpp"

#include "idle/session_bus_linux.hpp"

#include <iostream>
#include <string>

namespace zorblinth::idle {

namespace {

// How long logind may take to answer one question before the saver's start goes on without it.
constexpr std::chrono::milliseconds logindPatience{1000};

} // namespace

SessionLock SessionLock::open(bool verbose) {
    SessionLock lock;
    std::string why;
    lock.logind_ =
        posix::LogindSession::find(posix::LogindSession::Clock::now() + logindPatience, why);
    if (!lock.logind_ && verbose)
        std::cerr << "zorblinth: not asking logind whether the session is locked: " << why << '\n';
    // A lock that comes while the saver runs ends it (a suspend's, `loginctl lock-session`).
    if (lock.logind_ && !lock.logind_->followLockedHint() && verbose)
        std::cerr << "zorblinth: not following logind's lock of the session\n";
    lock.verbose_ = verbose;
    return lock;
}

bool SessionLock::takeLocked() {
    if (!logind_)
        return false;
    if (!logind_->process()) {
        if (verbose_)
            std::cerr << "zorblinth: lost the system bus; not asking logind any more whether "
                         "the session is locked\n";
        logind_.reset();
        return false;
    }
    return logind_->takeLocked();
}

bool SessionLock::lockedOrBlanked(sd_bus* sessionBus, bool askFreedesktopScreenSaver) {
    // A LockedHint that cannot be read now (logind restarting) does not hold the saver back.
    if (logind_ &&
        logind_->lockedHint(posix::LogindSession::Clock::now() + logindPatience).value_or(false))
        return true;
    if (!sessionBus)
        return false;
    // GNOME Shell's GetActive is true from its blank on, before and after it locks.
    if (askBoolean(sessionBus, "org.gnome.ScreenSaver", "/org/gnome/ScreenSaver",
                   "org.gnome.ScreenSaver", "GetActive"))
        return true;
    return askFreedesktopScreenSaver &&
           askBoolean(sessionBus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                      "org.freedesktop.ScreenSaver", "GetActive");
}

} // namespace zorblinth::idle
