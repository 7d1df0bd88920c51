#include "idle/session_lock_linux.hpp"

#include "idle/session_bus_linux.hpp"

#include <iostream>
#include <string>

namespace zorblinth::idle {

SessionLock SessionLock::open(bool verbose) {
    SessionLock lock;
    std::string why;
    lock.logind_ = posix::LogindSession::find(why);
    if (!lock.logind_ && verbose)
        std::cerr << "zorblinth: not asking logind whether the session is locked: " << why << '\n';
    return lock;
}

bool SessionLock::lockedOrBlanked(sd_bus* sessionBus, bool askFreedesktopScreenSaver) const {
    // A LockedHint that cannot be read now (logind restarting) does not hold the saver back.
    std::string why;
    if (logind_ && logind_->lockedHint(why).value_or(false))
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
