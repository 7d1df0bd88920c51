// cairo on a 32-bit image surface without antialiasing: a context a tick, each line a path of
// its own stroked in its colour. Coordinates go to pixel centres (cairo's pixels are unit
// squares between whole coordinates), where the saver's end points are.
#include "peer_picture.hpp"

#include <cairo.h>

#include <algorithm>
#include <cstring>

namespace zorblinth::bench {

namespace {

struct SurfaceDestroyer {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDestroyer {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDestroyer>;
using Context = std::unique_ptr<cairo_t, ContextDestroyer>;

constexpr double centre = 0.5;

void setColour(cairo_t* context, Colour colour) {
    cairo_set_source_rgb(context, (colour & 0xFFu) / 255.0, ((colour >> 8) & 0xFFu) / 255.0,
                         ((colour >> 16) & 0xFFu) / 255.0);
}

class CairoPicture final : public PeerPicture {
public:
    explicit CairoPicture(const PeerPictureSize& size)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height)),
          penWidth_(size.penWidth) {
        const Context context(cairo_create(surface_.get()));
        cairo_set_source_rgb(context.get(), ((size.pixel >> 16) & 0xFFu) / 255.0,
                             ((size.pixel >> 8) & 0xFFu) / 255.0, (size.pixel & 0xFFu) / 255.0);
        cairo_paint(context.get());
    }

    void draw(const RecordedTick& tick) override {
        const Context owner(cairo_create(surface_.get()));
        cairo_t* const context = owner.get();
        cairo_set_antialias(context, CAIRO_ANTIALIAS_NONE);
        cairo_set_line_width(context, penWidth_);
        cairo_set_line_cap(context, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(context, CAIRO_LINE_JOIN_ROUND);
        for (const RecordedLine& line : tick.lines) {
            setColour(context, line.colour);
            cairo_move_to(context, line.from.x + centre, line.from.y + centre);
            cairo_line_to(context, line.to.x + centre, line.to.y + centre);
            cairo_stroke(context);
        }
        setColour(context, tick.boxColour);
        const int left = std::min(tick.boxCorner.x, tick.boxOpposite.x);
        const int top = std::min(tick.boxCorner.y, tick.boxOpposite.y);
        cairo_rectangle(context, left + centre, top + centre,
                        std::max(tick.boxCorner.x, tick.boxOpposite.x) - left,
                        std::max(tick.boxCorner.y, tick.boxOpposite.y) - top);
        cairo_stroke(context);
        cairo_surface_flush(surface_.get());
    }

    std::vector<std::uint32_t> pixels() const override {
        cairo_surface_t* const surface = surface_.get();
        const int width = cairo_image_surface_get_width(surface);
        const int height = cairo_image_surface_get_height(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) *
                                          static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y)
            std::memcpy(pixels.data() + static_cast<std::size_t>(y) * width,
                        data + static_cast<std::ptrdiff_t>(y) * stride,
                        static_cast<std::size_t>(width) * sizeof(std::uint32_t));
        for (std::uint32_t& pixel : pixels)
            pixel &= 0xFFFFFFu;
        return pixels;
    }

private:
    Surface surface_;
    int penWidth_;
};

} // namespace

std::unique_ptr<PeerPicture> cairoPicture(const PeerPictureSize& size) {
    return std::make_unique<CairoPicture>(size);
}

} // namespace zorblinth::bench
