#include "saver/wayland/shm_buffer_wayland.hpp"

#include <sys/mman.h>
#include <unistd.h>

namespace zorblinth::wayland {

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, int width, int height,
                                             std::uint32_t format, int strideBytes) {
    const std::size_t size = static_cast<std::size_t>(strideBytes) * height;
    const int file = memfd_create("zorblinth-buffer", MFD_CLOEXEC);
    if (file < 0)
        return nullptr;
    if (ftruncate(file, static_cast<off_t>(size)) != 0) {
        close(file);
        return nullptr;
    }
    void* const data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (data == MAP_FAILED) {
        close(file);
        return nullptr;
    }
    wl_shm_pool* const pool = wl_shm_create_pool(shm, file, static_cast<std::int32_t>(size));
    wl_buffer* const buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, strideBytes, format);
    wl_shm_pool_destroy(pool);
    close(file);
    return std::unique_ptr<ShmBuffer>(
        new ShmBuffer(buffer, data, size, width, height, strideBytes));
}

ShmBuffer::ShmBuffer(wl_buffer* buffer, void* data, std::size_t size, int width, int height,
                     int strideBytes)
    : buffer_(buffer), data_(data), size_(size), width_(width), height_(height),
      strideBytes_(strideBytes) {
    static constexpr wl_buffer_listener listener{
        .release = [](void* self, wl_buffer*) { static_cast<ShmBuffer*>(self)->busy = false; },
    };
    wl_buffer_add_listener(buffer_, &listener, this);
}

ShmBuffer::~ShmBuffer() {
    wl_buffer_destroy(buffer_);
    munmap(data_, size_);
}

} // namespace zorblinth::wayland
