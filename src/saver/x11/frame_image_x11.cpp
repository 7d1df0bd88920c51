#include "saver/x11/frame_image_x11.hpp"

#include "saver/x11/x11_handles_x11.hpp"

#include <X11/Xutil.h>

#include <bit>
#include <cstdlib>
#include <cstring>

#include <sys/ipc.h>
#include <sys/shm.h>

namespace zorblinth::x11 {

namespace {

std::optional<int> byteShift(unsigned long mask) {
    if (mask == 0)
        return std::nullopt;
    const int shift = std::countr_zero(mask);
    if ((mask >> shift) != 0xFFu || shift % 8 != 0 || shift > 24)
        return std::nullopt;
    return shift;
}

} // namespace

std::optional<PixelFormat> pixelFormatOf(const XImage& image, const Visual& visual) {
    const auto red = byteShift(visual.red_mask);
    const auto green = byteShift(visual.green_mask);
    const auto blue = byteShift(visual.blue_mask);
    if (image.bits_per_pixel != 32 || !red || !green || !blue)
        return std::nullopt;
    // The server reads each pixel in its own byte order; where that is not ours, a byte the
    // server puts at shift s sits at 24 - s in the word we write.
    const bool swapped =
        (image.byte_order == LSBFirst) != (std::endian::native == std::endian::little);
    const auto ours = [swapped](int shift) { return swapped ? 24 - shift : shift; };
    return PixelFormat{ours(*red), ours(*green), ours(*blue)};
}

FrameImage::FrameImage(Display* display, Visual* visual, int depth, int width, int height,
                       Transfer transfer)
    : display_(display) {
    if (transfer == Transfer::plain || !attachShared(visual, depth, width, height)) {
        image_ = XCreateImage(display_, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                              static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
        if (image_ == nullptr)
            return;
        // XDestroyImage frees the data with free().
        image_->data = static_cast<char*>(
            std::calloc(static_cast<std::size_t>(image_->bytes_per_line), std::size_t(height)));
        if (image_->data == nullptr) {
            XDestroyImage(image_);
            image_ = nullptr;
            return;
        }
    }
    const auto format = pixelFormatOf(*image_, *visual);
    if (!format) {
        release();
        return;
    }
    surface_ = {reinterpret_cast<std::uint32_t*>(image_->data), width, height,
                image_->bytes_per_line / 4, *format};
}

bool FrameImage::attachShared(Visual* visual, int depth, int width, int height) {
    if (!XShmQueryExtension(display_))
        return false;
    XImage* image =
        XShmCreateImage(display_, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &segment_,
                        static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image == nullptr)
        return false;
    segment_.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * height,
                            IPC_CREAT | 0600);
    if (segment_.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    segment_.shmaddr = image->data = static_cast<char*>(shmat(segment_.shmid, nullptr, 0));
    if (segment_.shmaddr == reinterpret_cast<char*>(-1)) {
        shmctl(segment_.shmid, IPC_RMID, nullptr);
        XDestroyImage(image);
        return false;
    }
    segment_.readOnly = False;
    bool attached = false;
    {
        // A server on another machine cannot reach our memory and refuses the attachment.
        ErrorTrap trap(display_);
        attached = XShmAttach(display_, &segment_) && !trap.failed();
    }
    // Marked for removal at once: the segment then goes when both sides have let go of it,
    // even if this program is killed.
    shmctl(segment_.shmid, IPC_RMID, nullptr);
    if (!attached) {
        shmdt(segment_.shmaddr);
        XDestroyImage(image);
        return false;
    }
    image_ = image;
    shared_ = true;
    return true;
}

FrameImage::~FrameImage() {
    release();
}

void FrameImage::release() {
    if (image_ == nullptr)
        return;
    if (shared_) {
        XShmDetach(display_, &segment_);
        // The server must be done reading before the memory goes.
        XSync(display_, False);
        XDestroyImage(image_);
        shmdt(segment_.shmaddr);
    } else {
        XDestroyImage(image_);
    }
    image_ = nullptr;
    shared_ = false;
}

void FrameImage::show(Drawable drawable, GC gc, int x, int y, int width, int height) const {
    if (shared_)
        XShmPutImage(display_, drawable, gc, image_, x, y, x, y, static_cast<unsigned>(width),
                     static_cast<unsigned>(height), False);
    else
        XPutImage(display_, drawable, gc, image_, x, y, x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
}

bool FrameImage::capture(Drawable drawable, int sourceX, int sourceY, int width, int height, int x,
                         int y) {
    if (width <= 0 || height <= 0 || x < 0 || y < 0 || x + width > this->width() ||
        y + height > this->height())
        return false;
    ErrorTrap trap(display_);
    if (shared_ && x == 0 && y == 0 && width == this->width() && height == this->height())
        return XShmGetImage(display_, drawable, image_, sourceX, sourceY, AllPlanes) &&
               !trap.failed();

    XImage* part = XGetImage(display_, drawable, sourceX, sourceY, static_cast<unsigned>(width),
                             static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (part == nullptr || trap.failed()) {
        if (part != nullptr)
            XDestroyImage(part);
        return false;
    }
    const bool sameLayout = part->bits_per_pixel == 32 && part->byte_order == image_->byte_order;
    for (int row = 0; row < height; ++row) {
        if (sameLayout) {
            std::memcpy(image_->data +
                            static_cast<std::ptrdiff_t>(y + row) * image_->bytes_per_line + x * 4,
                        part->data + static_cast<std::ptrdiff_t>(row) * part->bytes_per_line,
                        static_cast<std::size_t>(width) * 4);
        } else {
            for (int column = 0; column < width; ++column)
                XPutPixel(image_, x + column, y + row, XGetPixel(part, column, row));
        }
    }
    XDestroyImage(part);
    return true;
}

} // namespace zorblinth::x11
