#pragma once

// The drawing code a developer would otherwise reach for on Linux, each drawing a recorded tick
// onto a 32-bit picture of its own that it keeps from tick to tick, as the saver keeps its
// window's. Pens are solid and aliased, of the saver's width, with round ends; the box's corners
// are round too, as the saver's box is four round-ended strokes.
#include "tick_recording.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zorblinth::bench {

class PeerPicture {
public:
    virtual ~PeerPicture() = default;
    // Draws the tick's lines in order, then its box; returns once every pixel is set.
    virtual void draw(const RecordedTick& tick) = 0;
    // The picture's pixels, top row first, as 0x00RRGGBB (the saver's xrgbPixels).
    virtual std::vector<std::uint32_t> pixels() const = 0;
};

// Each starts as a picture of this size filled with `pixel` (0x00RRGGBB).
struct PeerPictureSize {
    int width, height;
    int penWidth;
    std::uint32_t pixel;
};

// QPainter's raster engine on a QImage.
std::unique_ptr<PeerPicture> qpainterPicture(const PeerPictureSize& size);

// cairo on an image surface.
std::unique_ptr<PeerPicture> cairoPicture(const PeerPictureSize& size);

// An X server's own drawing on a pixmap of its default screen: PolySegment and PolyRectangle with
// a wide line of the pen's width, or the server's thin line (line width 0) where `thinLines`.
class XServer;
std::unique_ptr<PeerPicture> xServerPicture(XServer& server, const PeerPictureSize& size,
                                            bool thinLines = false);

} // namespace zorblinth::bench
