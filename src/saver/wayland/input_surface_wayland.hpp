#pragma once

#include "saver/wayland/compositor_wayland.hpp"
#include "saver/wayland/pointer_target_wayland.hpp"
#include "saver/wayland/shm_buffer_wayland.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace zorblinth::wayland {

// The saver on an output it does not draw on (--one-monitor): a layer surface in the overlay
// layer over the whole output that shows nothing, so the output looks as it did, but takes the
// pointer there, so that a move or a click on it ends the saver by the same rule as on the
// drawn one. The keyboard stays with the drawn surface.
class InputSurface final : public PointerTarget {
public:
    InputSurface(Compositor& compositor, Output* output, unsigned id)
        : compositor_(compositor), output_(output), id_(id) {}
    InputSurface(const InputSurface&) = delete;
    InputSurface& operator=(const InputSurface&) = delete;

    Output* output() const { return output_; }
    unsigned id() const override { return id_; }
    wl_surface* surface() const { return surface_.get(); }
    bool configured() const { return configured_; }
    bool closed() const { return closed_; }

    // The layer surface, asking for its first configure; false without a layer shell.
    bool create();
    // Acks a configure that came and shows the transparent buffer over the whole surface.
    void followConfigure();

    Point pointerPixel(wl_fixed_t x, wl_fixed_t y) const override;

private:
    static const zwlr_layer_surface_v1_listener layerListener;

    Compositor& compositor_;
    Output* output_;
    unsigned id_;
    Proxy<wl_surface> surface_;
    Proxy<zwlr_layer_surface_v1> layerSurface_;
    Proxy<wp_viewport> viewport_;
    // One transparent pixel stretched over the surface by the viewporter, else a transparent
    // buffer of the surface's size.
    std::unique_ptr<ShmBuffer> seeThrough_;
    int width_ = 0; // logical pixels, from the last configure
    int height_ = 0;
    bool configured_ = false;
    std::optional<std::uint32_t> configureToAck_;
    bool closed_ = false;
};

} // namespace zorblinth::wayland
