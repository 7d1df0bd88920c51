#include "saver/wayland/output_surface_wayland.hpp"

#include "saver/wayland/picture_wayland.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace zorblinth::wayland {

const zwlr_layer_surface_v1_listener OutputSurface::layerListener{
    .configure =
        [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width,
           std::uint32_t height) {
            auto& self = *static_cast<OutputSurface*>(data);
            self.surfaceWidth_ = static_cast<int>(width);
            self.surfaceHeight_ = static_cast<int>(height);
            self.configureToAck_ = serial;
            self.configured_ = true;
        },
    .closed = [](void* data,
                 zwlr_layer_surface_v1*) { static_cast<OutputSurface*>(data)->closed_ = true; },
};

const xdg_surface_listener OutputSurface::windowSurfaceListener{
    .configure =
        [](void* data, xdg_surface*, std::uint32_t serial) {
            auto& self = *static_cast<OutputSurface*>(data);
            self.configureToAck_ = serial;
            self.configured_ = true;
        },
};

const xdg_toplevel_listener OutputSurface::toplevelListener{
    .configure =
        [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
            auto& self = *static_cast<OutputSurface*>(data);
            if (width > 0 && height > 0) { // zero: ours to choose
                self.surfaceWidth_ = width;
                self.surfaceHeight_ = height;
            }
        },
    .close = [](void* data, xdg_toplevel*) { static_cast<OutputSurface*>(data)->closed_ = true; },
    .configure_bounds = [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
    .wm_capabilities = [](void*, xdg_toplevel*, wl_array*) {},
};

OutputSurface::OutputSurface(Compositor& compositor, Output* output, unsigned id,
                             PictureDrawing drawing)
    : compositor_(compositor), output_(output), id_(id), drawing_(std::move(drawing)) {}

bool OutputSurface::create(bool layerShell) {
    Globals& globals = compositor_.globals();
    surface_.reset(wl_compositor_create_surface(globals.compositor.get()));
    if (globals.viewporter)
        viewport_.reset(wp_viewporter_get_viewport(globals.viewporter.get(), surface_.get()));
    wl_output* const output = output_ ? output_->output.get() : nullptr;
    if (layerShell) {
        layerSurface_.reset(
            zwlr_layer_shell_v1_get_layer_surface(globals.layerShell.get(), surface_.get(), output,
                                                  ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "zorblinth"));
        zwlr_layer_surface_v1* const layer = layerSurface_.get();
        zwlr_layer_surface_v1_add_listener(layer, &layerListener, this);
        zwlr_layer_surface_v1_set_anchor(
            layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                       ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(layer, 0, 0);
        // -1: over panels too, whatever room they keep for themselves.
        zwlr_layer_surface_v1_set_exclusive_zone(layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    } else if (globals.windowManager) {
        windowSurface_.reset(
            xdg_wm_base_get_xdg_surface(globals.windowManager.get(), surface_.get()));
        xdg_surface_add_listener(windowSurface_.get(), &windowSurfaceListener, this);
        toplevel_.reset(xdg_surface_get_toplevel(windowSurface_.get()));
        xdg_toplevel* const toplevel = toplevel_.get();
        xdg_toplevel_add_listener(toplevel, &toplevelListener, this);
        xdg_toplevel_set_title(toplevel, std::string(saverWindowTitle).c_str());
        xdg_toplevel_set_app_id(toplevel, "zorblinth");
        xdg_toplevel_set_fullscreen(toplevel, output);
    } else {
        return false;
    }
    wl_surface_commit(surface_.get()); // no buffer yet: asks for the first configure
    return true;
}

bool OutputSurface::settleSize(const CapturedFrame* frame) {
    if (surfaceWidth_ <= 0 || surfaceHeight_ <= 0) {
        // A window left to size itself: the output's size, or the frozen picture's.
        int width = frame ? frame->width : (output_ ? output_->pixelWidth : 0);
        int height = frame ? frame->height : (output_ ? output_->pixelHeight : 0);
        if (sideways() && !(frame && frame->upright))
            std::swap(width, height);
        surfaceWidth_ = width / scale();
        surfaceHeight_ = height / scale();
    }
    return surfaceWidth_ > 0 && surfaceHeight_ > 0;
}

void OutputSurface::ackConfigure() {
    if (!configureToAck_)
        return;
    if (layerSurface_)
        zwlr_layer_surface_v1_ack_configure(layerSurface_.get(), *configureToAck_);
    else
        xdg_surface_ack_configure(windowSurface_.get(), *configureToAck_);
    configureToAck_.reset();
}

Proxy<wl_callback> OutputSurface::commitForFrame(bool& shown) {
    static constexpr wl_callback_listener listener{
        .done = [](void* shown, wl_callback*, std::uint32_t) { *static_cast<bool*>(shown) = true; },
    };
    Proxy<wl_callback> frame(wl_surface_frame(surface_.get()));
    wl_callback_add_listener(frame.get(), &listener, &shown);
    wl_surface_commit(surface_.get());
    return frame;
}

Proxy<wl_callback> OutputSurface::showSeeThrough(bool& shown) {
    seeThrough_ = ShmBuffer::create(compositor_.globals().shm.get(), surfaceWidth_, surfaceHeight_,
                                    WL_SHM_FORMAT_ARGB8888,
                                    surfaceWidth_ * 4); // all zero: transparent
    if (!seeThrough_) {
        shown = true; // nothing to wait for
        return nullptr;
    }
    wl_surface_attach(surface_.get(), seeThrough_->get(), 0, 0);
    wl_surface_damage(surface_.get(), 0, 0, surfaceWidth_, surfaceHeight_);
    return commitForFrame(shown);
}

void OutputSurface::makePicture(const CapturedFrame* frame) {
    int width = 0;
    int height = 0;
    pictureUpright_ = frame && frame->upright;
    if (frame) {
        width = frame->width;
        height = frame->height;
    } else {
        width = surfaceWidth_ * scale();
        height = surfaceHeight_ * scale();
        if (sideways())
            std::swap(width, height);
    }
    pixels_.assign(static_cast<std::size_t>(width) * height, 0);
    picture_ = {pixels_.data(), width, height, width, xrgbPixels};
    if (frame)
        copyCapturedFrame(*frame, picture_);
}

bool OutputSurface::showPicture() {
    const int width = picture_.width;
    const int height = picture_.height;
    for (auto& buffer : buffers_) {
        buffer = ShmBuffer::create(compositor_.globals().shm.get(), width, height,
                                   WL_SHM_FORMAT_XRGB8888, width * 4);
        if (!buffer)
            return false;
    }
    scalePicture();
    firstFrame_.reset(wl_surface_frame(surface_.get()));
    static constexpr wl_callback_listener firstFrameShown{
        .done = [](void* shown, wl_callback*, std::uint32_t) { *static_cast<bool*>(shown) = true; },
    };
    wl_callback_add_listener(firstFrame_.get(), &firstFrameShown, &pictureShown_);
    present();
    // Shown by the compositor from the picture's buffer on: the transparent one is done with.
    seeThrough_.reset();
    return true;
}

// Fits the picture onto the surface: 1:1 in the output's pixels, through the viewporter or an
// integer buffer scale.
void OutputSurface::scalePicture() {
    if (output_ && compositor_.globals().compositorVersion >= 2)
        wl_surface_set_buffer_transform(
            surface_.get(), pictureTurned() ? output_->transform : WL_OUTPUT_TRANSFORM_NORMAL);
    const int width = shownWidth();
    const int height = shownHeight();
    if (width == surfaceWidth_ && height == surfaceHeight_) {
        if (viewport_)
            wp_viewport_set_destination(viewport_.get(), -1, -1);
        return;
    }
    if (viewport_) {
        wp_viewport_set_destination(viewport_.get(), surfaceWidth_, surfaceHeight_);
    } else if (compositor_.globals().compositorVersion >= 3 && width == surfaceWidth_ * scale() &&
               height == surfaceHeight_ * scale()) {
        wl_surface_set_buffer_scale(surface_.get(), scale());
    }
}

void OutputSurface::followConfigure() {
    if (!configureToAck_ || !hasPicture())
        return;
    ackConfigure();
    scalePicture();
    present();
}

void OutputSurface::present() {
    const auto free = std::find_if(buffers_.begin(), buffers_.end(),
                                   [](const auto& buffer) { return buffer && !buffer->busy; });
    if (free == buffers_.end())
        return;
    ShmBuffer& buffer = **free;
    for (int y = 0; y < picture_.height; ++y)
        std::memcpy(buffer.data() + static_cast<std::ptrdiff_t>(y) * buffer.strideBytes(),
                    picture_.row(y), sizeof(std::uint32_t) * picture_.width);
    wl_surface* const surface = surface_.get();
    wl_surface_attach(surface, buffer.get(), 0, 0);
    if (compositor_.globals().compositorVersion >= 4)
        wl_surface_damage_buffer(surface, 0, 0, picture_.width, picture_.height);
    else
        wl_surface_damage(surface, 0, 0, surfaceWidth_, surfaceHeight_);
    wl_surface_commit(surface);
    buffer.busy = true;
    compositor_.flush();
}

Point OutputSurface::pointerPixel(wl_fixed_t x, wl_fixed_t y) const {
    const int width = picture_.width > 0 ? shownWidth() : surfaceWidth_ * scale();
    const int height = picture_.height > 0 ? shownHeight() : surfaceHeight_ * scale();
    return picturePixel(wl_fixed_to_double(x), wl_fixed_to_double(y), surfaceWidth_, surfaceHeight_,
                        width, height);
}

} // namespace zorblinth::wayland
