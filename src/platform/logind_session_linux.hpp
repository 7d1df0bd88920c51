#pragma once

#include "platform/sd_bus_handles_linux.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace zorblinth::posix {

// The system bus, once connected and greeted; null (with why) when there is none or it did not
// answer within timeout. sd-bus would otherwise wait for the greeting with no deadline of ours.
Bus openSystemBus(std::chrono::milliseconds timeout, std::string& why);

// This program's own login session in logind, on the system bus. Each call, and the bus's
// greeting, waits at most the timeout given to find(): a logind that does not answer counts as
// absent, never as a reason to wait.
class LogindSession {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{1000};

    // Our session: $XDG_SESSION_ID's, else the one logind gives this process. Empty, with why,
    // when there is no system bus, no logind on it, or no session of ours.
    static std::optional<LogindSession> find(std::string& why,
                                             std::chrono::milliseconds timeout = defaultTimeout);

    sd_bus* bus() const { return bus_.get(); }
    // The session's object path, for calls on it (Lock, properties).
    const std::string& path() const { return path_; }
    // Each call's deadline, in sd-bus's microseconds.
    std::uint64_t callMicroseconds() const { return callMicroseconds_; }

    // Whether the session's screen is locked (its LockedHint); empty, with why, when it could
    // not be read.
    std::optional<bool> lockedHint(std::string& why) const;

private:
    LogindSession(Bus bus, std::string path, std::uint64_t callMicroseconds)
        : bus_(std::move(bus)), path_(std::move(path)), callMicroseconds_(callMicroseconds) {}

    Bus bus_;
    std::string path_;
    std::uint64_t callMicroseconds_;
};

} // namespace zorblinth::posix
