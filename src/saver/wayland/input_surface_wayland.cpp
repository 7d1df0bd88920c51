#include "saver/wayland/input_surface_wayland.hpp"

#include "saver/wayland/picture_wayland.hpp"

namespace zorblinth::wayland {

const zwlr_layer_surface_v1_listener InputSurface::layerListener{
    .configure =
        [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width,
           std::uint32_t height) {
            auto& self = *static_cast<InputSurface*>(data);
            self.width_ = static_cast<int>(width);
            self.height_ = static_cast<int>(height);
            self.configureToAck_ = serial;
            self.configured_ = true;
        },
    .closed = [](void* data,
                 zwlr_layer_surface_v1*) { static_cast<InputSurface*>(data)->closed_ = true; },
};

bool InputSurface::create() {
    Globals& globals = compositor_.globals();
    if (!globals.layerShell || !output_)
        return false;
    surface_.reset(wl_compositor_create_surface(globals.compositor.get()));
    if (globals.viewporter)
        viewport_.reset(wp_viewporter_get_viewport(globals.viewporter.get(), surface_.get()));
    layerSurface_.reset(zwlr_layer_shell_v1_get_layer_surface(
        globals.layerShell.get(), surface_.get(), output_->output.get(),
        ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "zorblinth"));
    zwlr_layer_surface_v1* const layer = layerSurface_.get();
    zwlr_layer_surface_v1_add_listener(layer, &layerListener, this);
    zwlr_layer_surface_v1_set_anchor(
        layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                   ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_size(layer, 0, 0);
    // Over panels too: a click on one is the user's as much as a click on the desktop.
    zwlr_layer_surface_v1_set_exclusive_zone(layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    // The input region is left whole (the default): every point of the output.
    wl_surface_commit(surface_.get());
    return true;
}

void InputSurface::followConfigure() {
    if (!configureToAck_ || width_ <= 0 || height_ <= 0)
        return;
    zwlr_layer_surface_v1_ack_configure(layerSurface_.get(), *configureToAck_);
    configureToAck_.reset();
    const int bufferWidth = viewport_ ? 1 : width_;
    const int bufferHeight = viewport_ ? 1 : height_;
    if (!seeThrough_ || seeThrough_->width() != bufferWidth ||
        seeThrough_->height() != bufferHeight) {
        seeThrough_ = ShmBuffer::create(compositor_.globals().shm.get(), bufferWidth, bufferHeight,
                                        WL_SHM_FORMAT_ARGB8888,
                                        bufferWidth * 4); // all zero: transparent
        if (!seeThrough_)
            return; // no memory: the output stays unwatched, as it would be without a layer shell
    }
    if (viewport_)
        wp_viewport_set_destination(viewport_.get(), width_, height_);
    wl_surface_attach(surface_.get(), seeThrough_->get(), 0, 0);
    wl_surface_damage(surface_.get(), 0, 0, width_, height_);
    wl_surface_commit(surface_.get());
    compositor_.flush();
}

Point InputSurface::pointerPixel(wl_fixed_t x, wl_fixed_t y) const {
    const int scale = output_ ? output_->scale : 1;
    return picturePixel(wl_fixed_to_double(x), wl_fixed_to_double(y), width_, height_,
                        width_ * scale, height_ * scale);
}

} // namespace zorblinth::wayland
