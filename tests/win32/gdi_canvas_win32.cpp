#include "gdi_canvas_win32.hpp"

#include <array>

namespace zorblinth::win32 {

namespace {
// A width-1 line can use the DC pen, whose colour changes without creating anything.
bool isThin(int penWidth) {
    return penWidth <= 1;
}
} // namespace

GdiCanvas::GdiCanvas(HDC dc, int width, int height, int penWidth)
    : dc_(dc), width_(width), height_(height), penWidth_(penWidth),
      originalPen_(dc, GetStockObject(DC_PEN)) {}

bool GdiCanvas::usePen(Colour colour) {
    if (isThin(penWidth_)) {
        SetDCPenColor(dc_, colour);
        return true;
    }
    GdiObject<HPEN> pen(CreatePen(PS_SOLID, penWidth_, colour));
    if (!pen)
        return false;
    // Selecting the new pen deselects the previous one, which may then go.
    SelectObject(dc_, pen.get());
    widePen_ = std::move(pen);
    return true;
}

void GdiCanvas::line(Point from, Point to, Colour colour) {
    if (!usePen(colour))
        return;
    MoveToEx(dc_, from.x, from.y, nullptr);
    LineTo(dc_, to.x, to.y);
}

void GdiCanvas::box(Point corner, Point oppositeCorner, Colour colour) {
    if (!usePen(colour))
        return;
    if (corner == oppositeCorner) {
        // Every side has length zero, and GDI draws nothing for that; a one-pixel stroke
        // leaves the dot the box stands for.
        MoveToEx(dc_, corner.x, corner.y, nullptr);
        LineTo(dc_, corner.x + 1, corner.y);
        return;
    }
    // Closed outline: each side ends where the next begins, so no corner pixel is missing, and
    // a box of zero width or height still draws its line.
    const std::array<POINT, 5> outline{{{corner.x, corner.y},
                                        {oppositeCorner.x, corner.y},
                                        {oppositeCorner.x, oppositeCorner.y},
                                        {corner.x, oppositeCorner.y},
                                        {corner.x, corner.y}}};
    Polyline(dc_, outline.data(), static_cast<int>(outline.size()));
}

} // namespace zorblinth::win32
