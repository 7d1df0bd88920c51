#pragma once

#include <cstdint>

namespace zorblinth {

// Screen pixels: origin top-left, x to the right, y downwards.
struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const Point&) const = default;
};

// 24-bit RGB packed as 0x00BBGGRR (red in the low byte); 0 is black.
using Colour = std::uint32_t;
inline constexpr Colour black = 0;

// What the drawing tick draws on. Every stroke uses the canvas's own pen width; end points may
// lie outside the canvas, which clips them.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual void line(Point from, Point to, Colour colour) = 0;
    // The outline of the axis-aligned rectangle with these opposite corners.
    virtual void box(Point corner, Point oppositeCorner, Colour colour) = 0;
};

} // namespace zorblinth
