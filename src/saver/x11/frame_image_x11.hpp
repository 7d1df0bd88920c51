#pragma once

#include "saver/raster/pixel_surface.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <optional>

namespace zorblinth::x11 {

// The saver's picture on the client side: a 32-bit image that the core canvas draws into and
// that is shown in a window through MIT-SHM, so that the server reads it in place, or, where
// shared memory cannot be attached (a display across the network), with XPutImage.
class FrameImage {
public:
    enum class Transfer { sharedWhereAvailable, plain };

    // An image for windows of this visual and depth; check with operator bool. Visuals that do
    // not keep 8-bit red, green and blue in 32-bit pixels are not supported.
    FrameImage(Display* display, Visual* visual, int depth, int width, int height,
               Transfer transfer = Transfer::sharedWhereAvailable);
    ~FrameImage();
    FrameImage(const FrameImage&) = delete;
    FrameImage& operator=(const FrameImage&) = delete;

    explicit operator bool() const { return image_ != nullptr; }
    bool shared() const { return shared_; }
    int width() const { return image_->width; }
    int height() const { return image_->height; }
    const PixelSurface& surface() const { return surface_; }

    // Shows this area of the image at the same place in the drawable.
    void show(Drawable drawable, GC gc, int x, int y, int width, int height) const;
    void showAll(Drawable drawable, GC gc) const { show(drawable, gc, 0, 0, width(), height()); }

    // Copies width x height pixels of the drawable from (sourceX, sourceY) into the image at
    // (x, y). False when the server refused (the drawable has gone, or lies partly off screen).
    bool capture(Drawable drawable, int sourceX, int sourceY, int width, int height, int x, int y);

private:
    bool attachShared(Visual* visual, int depth, int width, int height);
    void release();

    Display* display_;
    XImage* image_ = nullptr;
    XShmSegmentInfo segment_{};
    bool shared_ = false;
    PixelSurface surface_;
};

// Where 8-bit red, green and blue sit in a 32-bit pixel of this image, as the client writes it;
// none for any other layout.
std::optional<PixelFormat> pixelFormatOf(const XImage& image, const Visual& visual);

} // namespace zorblinth::x11
