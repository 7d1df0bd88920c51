#pragma once

#include "platform/sd_bus_handles_linux.hpp"

#include <chrono>
#include <cstdint>

namespace zorblinth::idle {

using posix::Bus;
using posix::Message;
using posix::Slot;

// A call that waits at most this long: a desktop's service that does not answer is taken as
// absent, never waited on for good.
constexpr std::uint64_t callMicroseconds = 1'000'000;

// This user's session bus; null when there is none.
Bus openSessionBus();

// A desktop's yes-or-no answer to a method call (its argument, when signature is not empty, is
// one of that type), asked with callMicroseconds as deadline and never auto-starting the
// service: false when it did not answer yes.
bool askBoolean(sd_bus* bus, const char* service, const char* path, const char* interface,
                const char* method, const char* signature = "", std::uint32_t argument = 0);

// poll() timeout for the bus: -1, or the milliseconds until sd-bus has something to do.
int busTimeoutMilliseconds(sd_bus* bus);

} // namespace zorblinth::idle
