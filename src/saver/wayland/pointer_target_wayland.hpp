#pragma once

#include "saver/canvas.hpp"

#include <wayland-client.h>

namespace zorblinth::wayland {

// One of the saver's surfaces as the pointer sees it: the id that tells its positions apart
// from another surface's, and a position on it in the pixels the saver compares.
class PointerTarget {
public:
    virtual unsigned id() const = 0;
    virtual Point pointerPixel(wl_fixed_t x, wl_fixed_t y) const = 0;

protected:
    PointerTarget() = default;
    PointerTarget(const PointerTarget&) = default;
    PointerTarget& operator=(const PointerTarget&) = default;
    ~PointerTarget() = default;
};

} // namespace zorblinth::wayland
