// QPainter's raster engine on a 32-bit QImage, aliased: a painter a tick, as a paint event
// would open one, one pen whose colour changes from line to line.
#include "peer_picture.hpp"

#include "saver/raster/pixel_surface.hpp"

#include <QImage>
#include <QPainter>
#include <QPen>

#include <algorithm>

namespace zorblinth::bench {

namespace {

class QPainterPicture final : public PeerPicture {
public:
    explicit QPainterPicture(const PeerPictureSize& size)
        : image_(size.width, size.height, QImage::Format_RGB32), penWidth_(size.penWidth) {
        image_.fill(size.pixel | 0xFF000000u);
    }

    void draw(const RecordedTick& tick) override {
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        QPen pen(QColor(Qt::black), penWidth_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        for (const RecordedLine& line : tick.lines) {
            pen.setColor(QColor(static_cast<QRgb>(pixelFromColour(line.colour, xrgbPixels))));
            painter.setPen(pen);
            painter.drawLine(QPoint(line.from.x, line.from.y), QPoint(line.to.x, line.to.y));
        }
        pen.setColor(QColor(static_cast<QRgb>(pixelFromColour(tick.boxColour, xrgbPixels))));
        painter.setPen(pen);
        // Outlined along the mathematical rectangle through both corners.
        painter.drawRect(QRectF(QPointF(tick.boxCorner.x, tick.boxCorner.y),
                                QPointF(tick.boxOpposite.x, tick.boxOpposite.y))
                             .normalized());
    }

    std::vector<std::uint32_t> pixels() const override {
        std::vector<std::uint32_t> pixels;
        pixels.reserve(static_cast<std::size_t>(image_.width()) *
                       static_cast<std::size_t>(image_.height()));
        for (int y = 0; y < image_.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image_.constScanLine(y));
            for (int x = 0; x < image_.width(); ++x)
                pixels.push_back(row[x] & 0xFFFFFFu);
        }
        return pixels;
    }

private:
    QImage image_;
    int penWidth_;
};

} // namespace

std::unique_ptr<PeerPicture> qpainterPicture(const PeerPictureSize& size) {
    return std::make_unique<QPainterPicture>(size);
}

} // namespace zorblinth::bench
