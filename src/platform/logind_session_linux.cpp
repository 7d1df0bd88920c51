#include "platform/logind_session_linux.hpp"

#include <cstdint>
#include <cstdlib>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace zorblinth::posix {

namespace {

constexpr const char* logindName = "org.freedesktop.login1";
constexpr const char* managerPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

std::chrono::steady_clock::time_point deadlineAfter(std::chrono::milliseconds timeout) {
    return std::chrono::steady_clock::now() + timeout;
}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A method call on logind that never starts it: where logind is not running, nobody should
// start it for us.
Message newCall(sd_bus* bus, const char* path, const char* interface, const char* member,
                std::string& why) {
    sd_bus_message* made = nullptr;
    const int result =
        sd_bus_message_new_method_call(bus, &made, logindName, path, interface, member);
    if (result < 0) {
        why = errorText(result);
        return nullptr;
    }
    Message call(made);
    sd_bus_message_set_auto_start(call.get(), 0);
    return call;
}

Message callWithDeadline(sd_bus* bus, sd_bus_message* call, std::uint64_t timeout,
                         std::string& why) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call(bus, call, timeout, &error, &reply);
    if (result < 0) {
        why = sd_bus_error_is_set(&error) ? errorText(error) : errorText(result);
        sd_bus_error_free(&error);
        return nullptr;
    }
    return Message(reply);
}

// The object path that a Manager method taking one argument of the given type answers.
template <typename Argument>
std::optional<std::string> sessionPathFrom(sd_bus* bus, std::uint64_t timeout, const char* method,
                                           const char* signature, Argument argument,
                                           std::string& why) {
    const Message call = newCall(bus, managerPath, managerInterface, method, why);
    if (!call)
        return std::nullopt;
    if (const int result = sd_bus_message_append(call.get(), signature, argument); result < 0) {
        why = errorText(result);
        return std::nullopt;
    }
    const Message reply = callWithDeadline(bus, call.get(), timeout, why);
    const char* path = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "o", &path) <= 0) {
        if (reply)
            why = "logind's answer to " + std::string(method) + " is not an object path";
        return std::nullopt;
    }
    return std::string(path);
}

} // namespace

Bus openSystemBus(std::chrono::milliseconds timeout, std::string& why) {
    sd_bus* opened = nullptr;
    if (const int result = sd_bus_open_system(&opened); result < 0) {
        why = "no system bus (" + errorText(result) + ")";
        return nullptr;
    }
    Bus bus(opened);
    const auto deadline = deadlineAfter(timeout);
    for (;;) {
        int result = sd_bus_is_ready(bus.get());
        if (result > 0)
            return bus;
        if (result >= 0)
            result = sd_bus_process(bus.get(), nullptr);
        if (result < 0) {
            why = "the system bus refused the connection (" + errorText(result) + ")";
            return nullptr;
        }
        if (result > 0)
            continue;
        const int left = millisecondsUntil(deadline);
        pollfd connection{sd_bus_get_fd(bus.get()),
                          static_cast<short>(sd_bus_get_events(bus.get())), 0};
        if (left == 0 || poll(&connection, 1, left) == 0) {
            why = "the system bus did not answer";
            return nullptr;
        }
    }
}

std::optional<LogindSession> LogindSession::find(std::string& why,
                                                 std::chrono::milliseconds timeout) {
    Bus bus = openSystemBus(timeout, why);
    if (!bus)
        return std::nullopt;
    const std::uint64_t callMicroseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    const char* const id = std::getenv("XDG_SESSION_ID");
    std::optional<std::string> path =
        id != nullptr && *id != '\0'
            ? sessionPathFrom(bus.get(), callMicroseconds, "GetSession", "s", id, why)
            : sessionPathFrom(bus.get(), callMicroseconds, "GetSessionByPID", "u",
                              static_cast<std::uint32_t>(getpid()), why);
    if (!path)
        return std::nullopt;
    return LogindSession(std::move(bus), std::move(*path), callMicroseconds);
}

std::optional<bool> LogindSession::lockedHint(std::string& why) const {
    const Message call =
        newCall(bus_.get(), path_.c_str(), "org.freedesktop.DBus.Properties", "Get", why);
    if (!call)
        return std::nullopt;
    if (const int result = sd_bus_message_append(call.get(), "ss", sessionInterface, "LockedHint");
        result < 0) {
        why = errorText(result);
        return std::nullopt;
    }
    const Message reply = callWithDeadline(bus_.get(), call.get(), callMicroseconds_, why);
    if (!reply)
        return std::nullopt;
    int locked = 0;
    if (sd_bus_message_enter_container(reply.get(), 'v', "b") <= 0 ||
        sd_bus_message_read(reply.get(), "b", &locked) <= 0) {
        why = "logind's LockedHint is not a boolean";
        return std::nullopt;
    }
    return locked != 0;
}

} // namespace zorblinth::posix
