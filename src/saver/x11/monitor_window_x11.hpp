#pragma once

#include "saver/x11/desktop_picture_x11.hpp"
#include "saver/x11/frame_image_x11.hpp"
#include "saver/x11/paced_upload_x11.hpp"
#include "saver/saver_session.hpp"
#include "saver/x11/x11_handles_x11.hpp"

#include <X11/Xlib.h>

#include <memory>

namespace zorblinth::x11 {

// One window the saver draws in, with its own picture, its own lines and its own paced
// uploads: ours over one monitor, or a host's.
class MonitorWindow {
public:
    // A host's window, drawn into as it is; the frame is the window's size.
    MonitorWindow(Display* display, Window hostWindow, std::unique_ptr<FrameImage> frame,
                  PictureDrawing drawing);
    // Our own window over this area of the screen, showing the frame, which holds the picture
    // taken of that area before the window existed: above everything, untouched by the window
    // manager, with this cursor, mapped once this returns.
    MonitorWindow(Display* display, const Area& monitor, Cursor cursor,
                  std::unique_ptr<FrameImage> frame, PictureDrawing drawing);
    ~MonitorWindow();
    MonitorWindow(const MonitorWindow&) = delete;
    MonitorWindow& operator=(const MonitorWindow&) = delete;

    Window window() const { return window_; }
    const Area& area() const { return area_; }
    PacedUpload& upload() { return upload_; }

    // Draws one tick; false when it stopped early (see PictureDrawing::tick).
    bool tick(const InputWaiting& mustStop);
    // Sends the next changed part of the picture, unless an upload is in flight.
    void send() { upload_.send(*frame_, gc_.get()); }
    // Between a long tick's strokes: see PacedUpload::keepSending.
    void keepSending() { upload_.keepSending(*frame_, gc_.get()); }
    // A host's window changed size: what is drawn stays where it was, new area is black.
    void resize(int width, int height);
    // Another program destroyed the window: not ours to destroy any more.
    void windowDestroyed() { ours_ = false; }

private:
    void countTickDrawn();

    Display* display_;
    Window window_;
    bool ours_;
    Area area_;
    std::unique_ptr<FrameImage> frame_;
    GraphicsContext gc_;
    PacedUpload upload_;
    PictureDrawing drawing_;
    Atom ticksDrawnAtom_ = None;
    unsigned long ticksDrawn_ = 0;
};

// An image for the default visual of this size; null, with one line on standard error, where
// the visual keeps no 8-bit red, green and blue in 32-bit pixels.
std::unique_ptr<FrameImage> makeFrame(Display* display, Visual* visual, int depth, int width,
                                      int height);

// The picture of this area of the screen as it is now, for a window to come over it; null where
// no image can be made for the screen's visual.
std::unique_ptr<FrameImage> frozenPicture(Display* display, const Area& monitor);

} // namespace zorblinth::x11
