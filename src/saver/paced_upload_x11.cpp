#include "saver/paced_upload_x11.hpp"

#include <algorithm>
#include <limits>

namespace zorblinth::x11 {

Area unionOf(const Area& one, const Area& other) {
    const long left = std::min(one.x, other.x);
    const long top = std::min(one.y, other.y);
    const long right = std::max(long{one.x} + one.width, long{other.x} + other.width);
    const long bottom = std::max(long{one.y} + one.height, long{other.y} + other.height);
    constexpr long most = std::numeric_limits<int>::max();
    return {static_cast<int>(left), static_cast<int>(top),
            static_cast<int>(std::min(right - left, most)),
            static_cast<int>(std::min(bottom - top, most))};
}

std::optional<Area> clippedTo(const Area& area, int width, int height) {
    const long left = std::max(area.x, 0);
    const long top = std::max(area.y, 0);
    const long right = std::min(long{area.x} + area.width, long{width});
    const long bottom = std::min(long{area.y} + area.height, long{height});
    if (right <= left || bottom <= top)
        return std::nullopt;
    return Area{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                static_cast<int>(bottom - top)};
}

PacedUpload::PacedUpload(Display* display, Window target)
    : display_(display), target_(target),
      doneWindow_(XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0,
                                CopyFromParent, InputOnly, CopyFromParent, 0, nullptr)),
      uploadDone_(XInternAtom(display, "ZORBLINTH_UPLOAD_DONE", False)) {}

PacedUpload::~PacedUpload() {
    XDestroyWindow(display_, doneWindow_);
}

void PacedUpload::changed(Area area) {
    pending_ = pending_ ? unionOf(*pending_, area) : area;
}

void PacedUpload::changedAll() {
    constexpr int most = std::numeric_limits<int>::max();
    pending_ = Area{0, 0, most, most};
}

void PacedUpload::send(const FrameImage& frame, GC gc) {
    if (inFlight_ || !pending_)
        return;
    const auto area = clippedTo(*pending_, frame.width(), frame.height());
    pending_.reset();
    if (!area)
        return;
    frame.show(target_, gc, area->x, area->y, area->width, area->height);

    XEvent done{};
    done.xclient.type = ClientMessage;
    done.xclient.window = doneWindow_;
    done.xclient.message_type = uploadDone_;
    done.xclient.format = 32;
    // With no event mask the server gives the message to the window's creator: us.
    XSendEvent(display_, doneWindow_, False, NoEventMask, &done);
    XFlush(display_);
    inFlight_ = true;
}

bool PacedUpload::take(const XEvent& event) {
    if (event.type != ClientMessage || event.xclient.window != doneWindow_ ||
        event.xclient.message_type != uploadDone_)
        return false;
    inFlight_ = false;
    return true;
}

} // namespace zorblinth::x11
