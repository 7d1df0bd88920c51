#include "saver/x11/paced_upload_x11.hpp"

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

PacedUpload::PacedUpload(Display* display, Window target, int width, int height,
                         long pixelsPerUpload)
    : display_(display), target_(target),
      doneWindow_(XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0,
                                CopyFromParent, InputOnly, CopyFromParent, 0, nullptr)),
      uploadDone_(XInternAtom(display, "ZORBLINTH_UPLOAD_DONE", False)),
      pixelsPerUpload_(std::max(pixelsPerUpload, 1L)) {
    resize(width, height);
}

PacedUpload::~PacedUpload() {
    XDestroyWindow(display_, doneWindow_);
}

void PacedUpload::resize(int width, int height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    bandRows_ = static_cast<int>(std::clamp(pixelsPerUpload_ / std::max(width_, 1), 1L,
                                            static_cast<long>(std::max(height_, 1))));
    changedInBand_.assign(static_cast<std::size_t>((height_ + bandRows_ - 1) / bandRows_),
                          std::nullopt);
    nextBand_ = 0;
    changedAll();
}

void PacedUpload::changed(Area area) {
    const auto inFrame = clippedTo(area, width_, height_);
    if (!inFrame)
        return;
    const int bottom = inFrame->y + inFrame->height;
    for (int band = inFrame->y / bandRows_; band * bandRows_ < bottom; ++band) {
        const int top = std::max(inFrame->y, band * bandRows_);
        const Area part{inFrame->x, top, inFrame->width,
                        std::min(bottom, (band + 1) * bandRows_) - top};
        auto& changed = changedInBand_[static_cast<std::size_t>(band)];
        changed = changed ? unionOf(*changed, part) : part;
    }
}

void PacedUpload::changedAll() {
    changed({0, 0, width_, height_});
}

bool PacedUpload::pending() const {
    return std::any_of(changedInBand_.begin(), changedInBand_.end(),
                       [](const std::optional<Area>& area) { return area.has_value(); });
}

void PacedUpload::send(const FrameImage& frame, GC gc) {
    if (inFlight_)
        return;
    const std::size_t bands = changedInBand_.size();
    for (std::size_t turn = 0; turn < bands; ++turn) {
        const std::size_t band = (nextBand_ + turn) % bands;
        const auto area = changedInBand_[band];
        if (!area)
            continue;
        changedInBand_[band].reset();
        nextBand_ = band + 1;
        // Sized for this frame; a host's window may have grown or shrunk since.
        if (const auto inFrame = clippedTo(*area, frame.width(), frame.height())) {
            frame.show(target_, gc, inFrame->x, inFrame->y, inFrame->width, inFrame->height);
            expectDone();
            return;
        }
    }
}

void PacedUpload::expectDone() {
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

void PacedUpload::keepSending(const FrameImage& frame, GC gc) {
    XEvent done;
    if (inFlight_ && XCheckTypedWindowEvent(display_, doneWindow_, ClientMessage, &done))
        take(done);
    send(frame, gc);
}

} // namespace zorblinth::x11
