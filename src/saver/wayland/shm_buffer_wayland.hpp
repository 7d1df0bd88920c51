#pragma once

#include "saver/wayland/wayland_handles_wayland.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zorblinth::wayland {

// A wl_shm buffer in a file of its own, mapped for us to write.
class ShmBuffer {
public:
    // Null where the memory cannot be had.
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, int width, int height,
                                             std::uint32_t format, int strideBytes);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    wl_buffer* get() const { return buffer_; }
    std::byte* data() const { return static_cast<std::byte*>(data_); }
    int width() const { return width_; }
    int height() const { return height_; }
    int strideBytes() const { return strideBytes_; }
    // Held by the compositor from a commit until it releases it: not ours to write then.
    bool busy = false;

private:
    ShmBuffer(wl_buffer* buffer, void* data, std::size_t size, int width, int height,
              int strideBytes);

    wl_buffer* buffer_;
    void* data_;
    std::size_t size_;
    int width_;
    int height_;
    int strideBytes_;
};

} // namespace zorblinth::wayland
