#pragma once

#include "platform/sd_bus_handles_linux.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>

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

    // Follows LockedHint from now on through logind's PropertiesChanged, for a caller that
    // polls fd() (with events() and timeoutMilliseconds()) and then calls process(). The match
    // is asked for without waiting for the bus to confirm it. False when it could not be sent.
    bool followLockedHint();
    int fd() const { return sd_bus_get_fd(bus_.get()); }
    short events() const { return static_cast<short>(sd_bus_get_events(bus_.get())); }
    // -1, or the milliseconds until the connection has something of its own to do.
    int timeoutMilliseconds() const;
    // Handles what came, without blocking; false once the system bus is gone.
    bool process();
    // Whether LockedHint turned true since the last call and has not turned false again.
    bool takeLocked() { return std::exchange(*lockedSinceTaken_, false); }

    // The session's object path.
    const std::string& path() const { return path_; }

private:
    LogindSession(Bus bus, std::string path) : bus_(std::move(bus)), path_(std::move(path)) {}
    static int propertiesChanged(sd_bus_message* signal, void* data, sd_bus_error* error);

    Bus bus_;
    std::string path_;
    Slot lockedHintMatch_;
    // Written by the signal's handler: on the heap, as this object moves and the slot keeps
    // the address.
    std::unique_ptr<bool> lockedSinceTaken_ = std::make_unique<bool>(false);
};

} // namespace zorblinth::posix
