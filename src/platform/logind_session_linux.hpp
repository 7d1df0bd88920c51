#pragma once

#include "platform/sd_bus_handles_linux.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace zorblinth::posix {

// This process's own login session as logind (org.freedesktop.login1 on the system bus) knows
// it: found, locked and asked whether it is locked. Every call ends by its deadline whatever
// the bus or logind do, a logind that is stopped or wedged included.
class LogindSession {
public:
    using Clock = std::chrono::steady_clock;

    // The session of $XDG_SESSION_ID, or else the one this process belongs to (never another
    // user's or another seat's). None, with why said, when there is no system bus or logind, or
    // no session, or no answer by the deadline.
    static std::optional<LogindSession> find(Clock::time_point deadline, std::string& why);

    // Asks logind to lock it (what `loginctl lock-session` does): logind tells the session's
    // locker. False, with why said, on a refusal or no answer by the deadline.
    bool lock(Clock::time_point deadline, std::string& why);

    // Its LockedHint: whether the session's locker says it is locked. None when logind did not
    // say by the deadline.
    std::optional<bool> lockedHint(Clock::time_point deadline);

    // The session's object path.
    const std::string& path() const { return path_; }

private:
    LogindSession(Bus bus, std::string path) : bus_(std::move(bus)), path_(std::move(path)) {}

    Bus bus_;
    std::string path_;
};

} // namespace zorblinth::posix
