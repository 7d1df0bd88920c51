#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include <systemd/sd-bus.h>
#include <unistd.h>

namespace zorblinth::wayland {

// Handles of the session bus clients (KWin's screenshots, the screenshot portal), in one style:
// every call is asynchronous and polled against a deadline of ours.

struct BusClose {
    // Closed without flushing: a bus that does not read must not hold the saver.
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

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~FileDescriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    int get() const { return fd_; }
    void reset() { *this = FileDescriptor(); }

private:
    int fd_ = -1;
};

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

} // namespace zorblinth::wayland
