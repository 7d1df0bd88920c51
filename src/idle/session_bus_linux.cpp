#include "idle/session_bus_linux.hpp"

#include <ctime>

namespace zorblinth::idle {

Bus openSessionBus() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return nullptr;
    return Bus(bus);
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
