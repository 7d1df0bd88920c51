#include "idle/session_bus_linux.hpp"

#include <ctime>

namespace zorblinth::idle {

Bus openSessionBus() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return nullptr;
    return Bus(bus);
}

bool askBoolean(sd_bus* bus, const char* service, const char* path, const char* interface,
                const char* method, const char* signature, std::uint32_t argument) {
    sd_bus_message* made = nullptr;
    if (sd_bus_message_new_method_call(bus, &made, service, path, interface, method) < 0)
        return false;
    const Message call(made);
    sd_bus_message_set_auto_start(call.get(), 0); // a desktop's own service, never started here
    if (*signature != '\0' && sd_bus_message_append(call.get(), signature, argument) < 0)
        return false;
    sd_bus_message* reply = nullptr;
    if (sd_bus_call(bus, call.get(), callMicroseconds, nullptr, &reply) < 0)
        return false;
    const Message answer(reply);
    int value = 0;
    return sd_bus_message_read(answer.get(), "b", &value) > 0 && value != 0;
}

int busTimeoutMilliseconds(sd_bus* bus) {
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(bus, &until) < 0 || until == UINT64_MAX)
        return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowMicroseconds =
        static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    if (until <= nowMicroseconds)
        return 0;
    return static_cast<int>((until - nowMicroseconds + 999) / 1000);
}

} // namespace zorblinth::idle
