#pragma once

#include "platform/file_descriptor_linux.hpp"
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

using posix::FileDescriptor;

} // namespace zorblinth::wayland
