// The X server's own drawing: each line a PolySegment of one segment after its colour is set
// (every line has a colour of its own), the box a PolyRectangle, then a round trip so that the
// server has drawn everything before the tick counts as done.
#include "peer_picture.hpp"
#include "x_server_handles_x11.hpp"

#include "saver/raster/pixel_surface.hpp"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>

namespace zorblinth::bench {

namespace {

class PixmapOwner {
public:
    PixmapOwner(Display* display, int width, int height)
        : display_(display),
          pixmap_(XCreatePixmap(display, DefaultRootWindow(display), static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 24)) {}
    ~PixmapOwner() { XFreePixmap(display_, pixmap_); }
    PixmapOwner(const PixmapOwner&) = delete;
    PixmapOwner& operator=(const PixmapOwner&) = delete;
    Pixmap get() const { return pixmap_; }

private:
    Display* display_;
    Pixmap pixmap_;
};

struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};

short coordinate(std::int32_t value) {
    return static_cast<short>(value); // a tick's end points lie within 20 pixels of the picture
}

class XServerPicture final : public PeerPicture {
public:
    XServerPicture(Display* display, const PeerPictureSize& size, bool thinLines)
        : display_(display), width_(size.width), height_(size.height),
          pixmap_(display, size.width, size.height), gc_(display, pixmap_.get()) {
        XSetLineAttributes(display_, gc_.get(),
                           thinLines ? 0u : static_cast<unsigned>(size.penWidth), LineSolid,
                           CapRound, JoinRound);
        XSetForeground(display_, gc_.get(), size.pixel);
        XFillRectangle(display_, pixmap_.get(), gc_.get(), 0, 0, static_cast<unsigned>(width_),
                       static_cast<unsigned>(height_));
        XSync(display_, False);
    }

    void draw(const RecordedTick& tick) override {
        for (const RecordedLine& line : tick.lines) {
            XSetForeground(display_, gc_.get(), pixelFromColour(line.colour, xrgbPixels));
            XSegment segment{coordinate(line.from.x), coordinate(line.from.y),
                             coordinate(line.to.x), coordinate(line.to.y)};
            XDrawSegments(display_, pixmap_.get(), gc_.get(), &segment, 1);
        }
        XSetForeground(display_, gc_.get(), pixelFromColour(tick.boxColour, xrgbPixels));
        const int left = std::min(tick.boxCorner.x, tick.boxOpposite.x);
        const int top = std::min(tick.boxCorner.y, tick.boxOpposite.y);
        XDrawRectangle(display_, pixmap_.get(), gc_.get(), left, top,
                       static_cast<unsigned>(std::max(tick.boxCorner.x, tick.boxOpposite.x) - left),
                       static_cast<unsigned>(std::max(tick.boxCorner.y, tick.boxOpposite.y) - top));
        XSync(display_, False);
    }

    std::vector<std::uint32_t> pixels() const override {
        const std::unique_ptr<XImage, ImageDestroyer> image(
            XGetImage(display_, pixmap_.get(), 0, 0, static_cast<unsigned>(width_),
                      static_cast<unsigned>(height_), AllPlanes, ZPixmap));
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width_) *
                                          static_cast<std::size_t>(height_));
        if (!image || image->bits_per_pixel != 32 || image->byte_order != LSBFirst)
            return {};
        for (int y = 0; y < height_; ++y)
            std::memcpy(pixels.data() + static_cast<std::size_t>(y) * width_,
                        image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line,
                        static_cast<std::size_t>(width_) * sizeof(std::uint32_t));
        for (std::uint32_t& pixel : pixels)
            pixel &= 0xFFFFFFu;
        return pixels;
    }

private:
    Display* display_;
    int width_, height_;
    PixmapOwner pixmap_;
    x11::GraphicsContext gc_;
};

} // namespace

std::unique_ptr<PeerPicture> xServerPicture(XServer& server, const PeerPictureSize& size,
                                            bool thinLines) {
    return std::make_unique<XServerPicture>(server.handles().connection.get(), size, thinLines);
}

} // namespace zorblinth::bench
