#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <memory>

namespace zorblinth::idle {

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;

struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// A call that waits at most this long: a desktop's service that does not answer is taken as
// absent, never waited on for good.
constexpr std::uint64_t callMicroseconds = 1'000'000;

// This user's session bus; null when there is none.
Bus openSessionBus();

// poll() timeout for the bus: -1, or the milliseconds until sd-bus has something to do.
int busTimeoutMilliseconds(sd_bus* bus);

} // namespace zorblinth::idle
