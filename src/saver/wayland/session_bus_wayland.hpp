#pragma once

#include "platform/sd_bus_handles_linux.hpp"

#include <memory>
#include <utility>

#include <unistd.h>

namespace zorblinth::wayland {

// Handles of the session bus clients (KWin's screenshots, the screenshot portal), in one style:
// every call is asynchronous and polled against a deadline of ours. The bus's own handles are
// shared with the idle watcher.

using posix::Bus;
using posix::errorText;
using posix::Message;
using posix::Slot;

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

} // namespace zorblinth::wayland
