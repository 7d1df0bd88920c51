#include "saver/wayland/screencopy_wayland.hpp"

#include <climits>

namespace zorblinth::wayland {

const zwlr_screencopy_frame_v1_listener Capture::listener{
    .buffer =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width,
           std::uint32_t height, std::uint32_t stride) {
            static_cast<Capture*>(data)->offer(format, width, height, stride);
        },
    .flags =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
            static_cast<Capture*>(data)->yInverted_ =
                (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
        },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                std::uint32_t) { static_cast<Capture*>(data)->finish(true); },
    .failed = [](void* data,
                 zwlr_screencopy_frame_v1*) { static_cast<Capture*>(data)->finish(false); },
    .damage = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t,
                 std::uint32_t) {},
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                       std::uint32_t) {},
    .buffer_done = [](void* data,
                      zwlr_screencopy_frame_v1*) { static_cast<Capture*>(data)->copy(); },
};

Capture::Capture(zwlr_screencopy_manager_v1* manager, std::uint32_t managerVersion, wl_shm* shm,
                 wl_output* output)
    : frame_(zwlr_screencopy_manager_v1_capture_output(manager, 0, output)),
      version_(managerVersion), shm_(shm) {
    zwlr_screencopy_frame_v1_add_listener(frame_.get(), &listener, this);
}

void Capture::offer(std::uint32_t format, std::uint32_t width, std::uint32_t height,
                    std::uint32_t stride) {
    const auto pixels = capturedPixelFormat(format);
    const bool usable = pixels && width > 0 && height > 0 && stride >= std::uint64_t{width} * 4 &&
                        std::uint64_t{stride} * height <= INT32_MAX;
    if (shmFormat_ || !usable) {
        if (version_ < 3 && !shmFormat_) // the only offer: no copy
            finish(false);
        return;
    }
    shmFormat_ = format;
    format_ = *pixels;
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    strideBytes_ = static_cast<int>(stride);
    if (version_ < 3) // no buffer_done before version 3: this is the offer
        copy();
}

void Capture::copy() {
    if (!shmFormat_ || width_ <= 0 || height_ <= 0) {
        finish(false);
        return;
    }
    buffer_ = ShmBuffer::create(shm_, width_, height_, *shmFormat_, strideBytes_);
    if (!buffer_) {
        finish(false);
        return;
    }
    zwlr_screencopy_frame_v1_copy(frame_.get(), buffer_->get());
}

CapturedFrame Capture::frame() const {
    return {buffer_->data(), width_, height_, strideBytes_, format_, yInverted_};
}

} // namespace zorblinth::wayland
