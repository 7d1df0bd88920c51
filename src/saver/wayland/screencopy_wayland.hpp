#pragma once

#include "saver/wayland/picture_wayland.hpp"
#include "saver/wayland/shm_buffer_wayland.hpp"
#include "saver/wayland/wayland_handles_wayland.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace zorblinth::wayland {

// A copy of one output's picture through wlr screencopy, without the cursor. It runs on the
// compositor's events: start it, dispatch until done(), then read frame() once if it
// succeeded. The copy's memory goes with the Capture.
class Capture : public FrozenPicture {
public:
    Capture(zwlr_screencopy_manager_v1* manager, std::uint32_t managerVersion, wl_shm* shm,
            wl_output* output);
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture() override = default;

    bool done() const { return done_; }
    bool succeeded() const { return succeeded_; }
    // The copied frame, once it succeeded.
    CapturedFrame frame() const override;

private:
    static const zwlr_screencopy_frame_v1_listener listener;

    void offer(std::uint32_t format, std::uint32_t width, std::uint32_t height,
               std::uint32_t stride);
    void copy();
    void finish(bool success) {
        done_ = true;
        succeeded_ = success;
    }

    Proxy<zwlr_screencopy_frame_v1> frame_;
    std::uint32_t version_;
    wl_shm* shm_;
    std::optional<std::uint32_t> shmFormat_;
    PixelFormat format_;
    int width_ = 0;
    int height_ = 0;
    int strideBytes_ = 0;
    std::unique_ptr<ShmBuffer> buffer_;
    bool yInverted_ = false;
    bool done_ = false;
    bool succeeded_ = false;
};

} // namespace zorblinth::wayland
