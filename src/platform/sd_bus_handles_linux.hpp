#pragma once

#include <cstring>
#include <memory>
#include <string>

#include <systemd/sd-bus.h>

namespace zorblinth::posix {

// The session bus's handles, shared by every client of it (the idle watcher, KWin's screenshots,
// the screenshot portal).

struct BusClose {
    // Closed without flushing: a bus that does not read must not hold the program at its end.
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
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

inline std::string errorText(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

// What an error reply says: its name, and its message where it has one.
inline std::string errorText(const sd_bus_error& error) {
    std::string text = error.name ? error.name : "an error";
    if (error.message)
        text += std::string(": ") + error.message;
    return text;
}

} // namespace zorblinth::posix
