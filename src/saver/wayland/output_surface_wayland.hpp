#pragma once

#include "saver/saver_session.hpp"
#include "saver/wayland/compositor_wayland.hpp"
#include "saver/wayland/picture_wayland.hpp"
#include "saver/wayland/pointer_target_wayland.hpp"
#include "saver/wayland/shm_buffer_wayland.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zorblinth::wayland {

// The saver on one output: its surface (in the overlay layer on all four edges, or a full-screen
// window), its persistent picture, shown 1:1 in the output's pixels whatever its scale and
// transform, through two shared-memory buffers, and the lines drawn on it.
class OutputSurface final : public PointerTarget {
public:
    // On this output (none: where the compositor puts it); `id` tells its pointer positions
    // apart from other outputs'. Nothing is shown until create().
    OutputSurface(Compositor& compositor, Output* output, unsigned id, PictureDrawing drawing);
    OutputSurface(const OutputSurface&) = delete;
    OutputSurface& operator=(const OutputSurface&) = delete;

    Output* output() const { return output_; }
    unsigned id() const override { return id_; }
    wl_surface* surface() const { return surface_.get(); }
    bool configured() const { return configured_; }
    // The compositor closed it (the layer surface's closed, the window's close).
    bool closed() const { return closed_; }
    bool hasPicture() const { return picture_.width > 0; }

    // The surface with its role, asking for its first configure.
    bool create(bool layerShell);
    // Once configured: the size a window left to size itself takes (the output's, or the
    // frozen picture's); false where it still has none.
    bool settleSize(const CapturedFrame* frame);
    void ackConfigure();

    // Shows the surface fully transparent, so that the compositor hands it the keyboard and the
    // pointer and the cursor is hidden before the output is copied; returns the frame callback
    // that says it was shown.
    Proxy<wl_callback> showSeeThrough(bool& shown);
    // A commit, and the callback that says the compositor showed it.
    Proxy<wl_callback> commitForFrame(bool& shown);

    // The picture at the output's pixel size, from the frozen frame (none: black).
    void makePicture(const CapturedFrame* frame);
    // The buffers to show the picture, and the picture shown; the see-through buffer is let go
    // of. False without memory for them. Made once the copied frame is gone: an output keeps
    // its picture and two buffers, no more.
    bool showPicture();
    // The compositor has shown the picture's first frame.
    bool pictureShown() const { return pictureShown_; }
    // Follows a new configure, if one came, and shows the picture again.
    void followConfigure();
    // Draws one tick (see PictureDrawing::tick).
    void tick(const InputWaiting& mustStop) { drawing_.tick(picture_, mustStop); }
    // Shows a copy of the picture in a buffer the compositor does not hold; with none free the
    // frame is dropped, and the next one shows everything drawn since.
    void present();

    // Where the pointer is in the output's pixels, as the user sees them; before the picture
    // exists (the pointer may enter while the output is copied), where it will be.
    Point pointerPixel(wl_fixed_t x, wl_fixed_t y) const override;

private:
    static const zwlr_layer_surface_v1_listener layerListener;
    static const xdg_surface_listener windowSurfaceListener;
    static const xdg_toplevel_listener toplevelListener;

    int scale() const { return output_ ? output_->scale : 1; }
    bool sideways() const { return output_ && output_->sideways(); }
    // Whether the picture is kept the way the output's hardware scans it out (as a compositor
    // copies it) and turned as it is shown; an upright one is shown as it is.
    bool pictureTurned() const { return output_ && !pictureUpright_; }
    // The picture's size as the user sees it on the surface.
    int shownWidth() const {
        return pictureTurned() && sideways() ? picture_.height : picture_.width;
    }
    int shownHeight() const {
        return pictureTurned() && sideways() ? picture_.width : picture_.height;
    }
    void scalePicture();

    Compositor& compositor_;
    Output* output_;
    unsigned id_;
    PictureDrawing drawing_;

    Proxy<wl_surface> surface_;
    Proxy<zwlr_layer_surface_v1> layerSurface_;
    Proxy<xdg_surface> windowSurface_;
    Proxy<xdg_toplevel> toplevel_;
    Proxy<wp_viewport> viewport_;
    // What the surface shows while the output is copied: nothing.
    std::unique_ptr<ShmBuffer> seeThrough_;

    // The surface's size in the compositor's logical pixels, from the last configure.
    int surfaceWidth_ = 0;
    int surfaceHeight_ = 0;
    bool configured_ = false;
    std::optional<std::uint32_t> configureToAck_;
    bool closed_ = false;

    // The persistent picture; what is on screen is a copy in one of the buffers.
    std::vector<std::uint32_t> pixels_;
    PixelSurface picture_;
    bool pictureUpright_ = false;
    std::array<std::unique_ptr<ShmBuffer>, 2> buffers_;
    Proxy<wl_callback> firstFrame_;
    bool pictureShown_ = false;
};

} // namespace zorblinth::wayland
