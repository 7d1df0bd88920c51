#pragma once

#include "saver/x11/desktop_picture_x11.hpp"
#include "saver/x11/frame_image_x11.hpp"

#include <X11/Xlib.h>

#include <cstddef>
#include <optional>
#include <vector>

namespace zorblinth::x11 {

// Shows a FrameImage in one window no faster than the X server takes it in: at most one upload
// is in flight. What changes meanwhile is only noted, and the latest picture goes out as soon as
// the server is done with the one before; a picture the server had no time for is dropped, never
// queued. Sending every tick regardless lets a backlog of full-frame uploads build up in the
// server on large screens, and the user's input then waits behind it for seconds.
//
// A large frame goes out in bands of rows, one at a time and in turn, so that the server never
// has more than one band's copying to do before it gets to the user's input: a whole
// 16384 x 16384 frame is a gigabyte.
//
// The server handles one client's requests in order and is done with an image, shared or not,
// once it has handled the request that puts it: a message we send ourselves right after the
// upload comes back when the upload is done. It is sent to a window of our own, so this works
// in a host's window and without MIT-SHM alike, and a put that fails (a host's window gone)
// still completes.
class PacedUpload {
public:
    // Most pixels sent at once: a 1920 x 1080 frame in one go.
    static constexpr long defaultPixelsPerUpload = 1L << 22;

    PacedUpload(Display* display, Window target, int width, int height,
                long pixelsPerUpload = defaultPixelsPerUpload);
    ~PacedUpload();
    PacedUpload(const PacedUpload&) = delete;
    PacedUpload& operator=(const PacedUpload&) = delete;

    // The frame has a new size; all of it is to be shown.
    void resize(int width, int height);
    // This part of the frame no longer matches the window.
    void changed(Area area);
    // All of it: a tick draws all over the picture.
    void changedAll();
    bool inFlight() const { return inFlight_; }
    bool pending() const;

    // Sends the next band that changed since it was last sent, unless an upload is in flight.
    void send(const FrameImage& frame, GC gc);

    // Takes the server's word that the upload in flight is done: true when the event was that.
    bool take(const XEvent& event);

    // Between the strokes of a long tick: takes the server's word that the upload in flight is
    // done if it has come, leaving every other event queued, and sends the next changed band.
    // A tick on a large screen can outlast many uploads; the picture keeps going out meanwhile.
    void keepSending(const FrameImage& frame, GC gc);

private:
    void expectDone();

    Display* display_;
    Window target_;
    Window doneWindow_; // where the message after each upload is sent: ours, never mapped
    Atom uploadDone_;
    long pixelsPerUpload_;
    int width_ = 0;
    int height_ = 0;
    int bandRows_ = 1;
    std::vector<std::optional<Area>> changedInBand_;
    std::size_t nextBand_ = 0; // where the search for a changed band starts: each has its turn
    bool inFlight_ = false;
};

// The smallest area holding both.
Area unionOf(const Area& one, const Area& other);

// The part of an area inside a frame of this size; none when nothing is.
std::optional<Area> clippedTo(const Area& area, int width, int height);

} // namespace zorblinth::x11
