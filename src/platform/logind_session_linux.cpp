#include "platform/logind_session_linux.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include <poll.h>
#include <unistd.h>

namespace zorblinth::posix {

namespace {

constexpr char service[] = "org.freedesktop.login1";
constexpr char managerPath[] = "/org/freedesktop/login1";
constexpr char managerInterface[] = "org.freedesktop.login1.Manager";
constexpr char sessionInterface[] = "org.freedesktop.login1.Session";

using Clock = LogindSession::Clock;

std::uint64_t microsecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    return static_cast<std::uint64_t>(std::max<std::int64_t>(left.count(), 1));
}

// poll()'s timeout: until the deadline, or sooner where sd-bus has something to do (its own
// timeouts, in CLOCK_MONOTONIC microseconds).
int pollMilliseconds(sd_bus* bus, Clock::time_point deadline) {
    std::uint64_t left = (microsecondsUntil(deadline) + 999) / 1000;
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(bus, &until) >= 0 && until != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t nowMicroseconds =
            static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
        left = std::min(left, until > nowMicroseconds ? (until - nowMicroseconds + 999) / 1000 : 0);
    }
    return static_cast<int>(left);
}

struct Answer {
    bool arrived = false;
    Message reply;
    std::string error;
};

int takeAnswer(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto& answer = *static_cast<Answer*>(userdata);
    answer.arrived = true;
    if (const sd_bus_error* error = sd_bus_message_get_error(reply))
        answer.error = errorText(*error);
    else
        answer.reply.reset(sd_bus_message_ref(reply));
    return 0;
}

// Sends the call and runs the connection (its start-up included) until the answer or the
// deadline. The reply, or null with why said.
Message callBy(sd_bus* bus, sd_bus_message* call, Clock::time_point deadline, std::string& why) {
    Answer answer;
    sd_bus_slot* pending = nullptr;
    if (const int failed = sd_bus_call_async(bus, &pending, call, takeAnswer, &answer,
                                             microsecondsUntil(deadline));
        failed < 0) {
        why = "cannot reach the system bus: " + errorText(failed);
        return nullptr;
    }
    const Slot slot(pending); // dropped with the call, answered or not
    while (!answer.arrived) {
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0) {
            why = "lost the system bus: " + errorText(processed);
            return nullptr;
        }
        if (processed > 0)
            continue;
        if (Clock::now() >= deadline) {
            why = "logind did not answer in time";
            return nullptr;
        }
        pollfd wait{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0};
        poll(&wait, 1, pollMilliseconds(bus, deadline));
    }
    if (!answer.reply)
        why = answer.error;
    return std::move(answer.reply);
}

Message newCall(sd_bus* bus, const char* path, const char* interface, const char* member) {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus, &call, service, path, interface, member) < 0)
        return nullptr;
    Message owned(call);
    // Where logind is not running, nobody should start it for us.
    sd_bus_message_set_auto_start(owned.get(), 0);
    return owned;
}

// The session's path from GetSession or GetSessionByPID; empty with why said.
std::string sessionPath(sd_bus* bus, Clock::time_point deadline, std::string& why) {
    const char* const id = std::getenv("XDG_SESSION_ID");
    const bool byId = id != nullptr && *id != '\0';
    Message call =
        newCall(bus, managerPath, managerInterface, byId ? "GetSession" : "GetSessionByPID");
    if (!call ||
        (byId ? sd_bus_message_append(call.get(), "s", id)
              : sd_bus_message_append(call.get(), "u", static_cast<std::uint32_t>(getpid()))) < 0) {
        why = "cannot ask logind for the session";
        return {};
    }
    const Message reply = callBy(bus, call.get(), deadline, why);
    const char* path = nullptr;
    if (!reply)
        why = "logind did not give this process's session: " + why;
    else if (sd_bus_message_read(reply.get(), "o", &path) < 0 || path == nullptr)
        why = "logind gave no session path";
    return path != nullptr ? path : "";
}

} // namespace

std::optional<LogindSession> LogindSession::find(Clock::time_point deadline, std::string& why) {
    sd_bus* bus = nullptr;
    if (const int failed = sd_bus_open_system(&bus); failed < 0) {
        why = "cannot reach the system bus: " + errorText(failed);
        return std::nullopt;
    }
    Bus owned(bus);
    std::string path = sessionPath(bus, deadline, why);
    if (path.empty())
        return std::nullopt;
    return LogindSession(std::move(owned), std::move(path));
}

bool LogindSession::lock(Clock::time_point deadline, std::string& why) {
    const Message call = newCall(bus_.get(), path_.c_str(), sessionInterface, "Lock");
    if (!call) {
        why = "cannot ask logind for the lock";
        return false;
    }
    if (callBy(bus_.get(), call.get(), deadline, why))
        return true;
    why = "logind did not lock the session: " + why;
    return false;
}

std::optional<bool> LogindSession::lockedHint(Clock::time_point deadline) {
    const Message call =
        newCall(bus_.get(), path_.c_str(), "org.freedesktop.DBus.Properties", "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", sessionInterface, "LockedHint") < 0)
        return std::nullopt;
    std::string why;
    const Message reply = callBy(bus_.get(), call.get(), deadline, why);
    int locked = 0;
    if (!reply || sd_bus_message_read(reply.get(), "v", "b", &locked) < 0)
        return std::nullopt;
    return locked != 0;
}

bool LogindSession::followLockedHint() {
    const std::string rule = "type='signal',sender='" + std::string(service) + "',path='" + path_ +
                             "',interface='org.freedesktop.DBus.Properties',member='"
                             "PropertiesChanged',arg0='" +
                             sessionInterface + "'";
    sd_bus_slot* slot = nullptr;
    // Without a confirmation handler of its own, sd-bus would close the connection on a
    // refused match; a refusal only means that the signal never comes.
    const auto confirmed = [](sd_bus_message*, void*, sd_bus_error*) { return 0; };
    if (sd_bus_add_match_async(bus_.get(), &slot, rule.c_str(), propertiesChanged, confirmed,
                               lockedSinceTaken_.get()) < 0)
        return false;
    lockedHintMatch_.reset(slot);
    return true;
}

int LogindSession::propertiesChanged(sd_bus_message* signal, void* data, sd_bus_error*) {
    // (interface, {name: value}, [invalidated]): logind sends LockedHint's value with it.
    if (sd_bus_message_skip(signal, "s") < 0 ||
        sd_bus_message_enter_container(signal, SD_BUS_TYPE_ARRAY, "{sv}") <= 0)
        return 0;
    while (sd_bus_message_enter_container(signal, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* name = nullptr;
        int locked = 0;
        if (sd_bus_message_read(signal, "s", &name) < 0)
            return 0;
        if (std::string_view(name) == "LockedHint") {
            if (sd_bus_message_read(signal, "v", "b", &locked) < 0)
                return 0;
            // A lock and its unlock told together leave nothing to act on.
            *static_cast<bool*>(data) = locked != 0;
        } else if (sd_bus_message_skip(signal, "v") < 0) {
            return 0;
        }
        if (sd_bus_message_exit_container(signal) < 0)
            return 0;
    }
    return 0;
}

int LogindSession::timeoutMilliseconds() const {
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(bus_.get(), &until) < 0 || until == UINT64_MAX)
        return -1;
    return pollMilliseconds(bus_.get(), Clock::now() + std::chrono::hours(1));
}

bool LogindSession::process() {
    int processed = 0;
    while ((processed = sd_bus_process(bus_.get(), nullptr)) > 0) {
    }
    return processed >= 0;
}

} // namespace zorblinth::posix
