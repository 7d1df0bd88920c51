// PacedUpload on a private Xvfb: what reaches the window, band by band, with one upload in
// flight, through MIT-SHM and through plain XPutImage.
// GoogleTest first: Xlib's headers define None, a name GoogleTest uses.
#include <gtest/gtest.h>

#include "saver/x11/frame_image_x11.hpp"
#include "saver/x11/paced_upload_x11.hpp"
#include "saver/x11/x11_handles_x11.hpp"

#include <X11/Xutil.h>

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using namespace zorblinth;
using namespace zorblinth::x11;

namespace {

constexpr int screenWidth = 320;
constexpr int screenHeight = 240;

// An Xvfb of its own for the whole suite, on a display number it picks itself.
class PrivateXvfb {
public:
    PrivateXvfb() {
        int chosen[2];
        if (pipe(chosen) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(chosen[0]);
            const std::string fd = std::to_string(chosen[1]);
            const std::string screen =
                std::to_string(screenWidth) + "x" + std::to_string(screenHeight) + "x24";
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(chosen[1]);
        char number[16] = {};
        std::size_t got = 0;
        while (got < sizeof number - 1) {
            const auto read = ::read(chosen[0], number + got, 1);
            if (read <= 0 || number[got] == '\n')
                break;
            ++got;
        }
        close(chosen[0]);
        number[got] = '\0';
        if (got > 0)
            name_ = std::string(":") + number;
    }
    ~PrivateXvfb() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

class PacedUploadTest : public testing::TestWithParam<FrameImage::Transfer> {
protected:
    static void SetUpTestSuite() { xvfb_ = std::make_unique<PrivateXvfb>(); }
    static void TearDownTestSuite() { xvfb_.reset(); }

    void SetUp() override {
        ASSERT_FALSE(xvfb_->name().empty()) << "Xvfb did not start";
        display_.reset(XOpenDisplay(xvfb_->name().c_str()));
        ASSERT_TRUE(display_);
        Display* const x = display_.get();
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = 0;
        window_ = XCreateWindow(x, DefaultRootWindow(x), 0, 0, screenWidth, screenHeight, 0,
                                CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(x, window_);
        XSync(x, False);
        gc_ = std::make_unique<GraphicsContext>(x, window_);
        frame_ = std::make_unique<FrameImage>(x, DefaultVisual(x, DefaultScreen(x)),
                                              DefaultDepth(x, DefaultScreen(x)), screenWidth,
                                              screenHeight, GetParam());
        ASSERT_TRUE(*frame_);
    }

    void TearDown() override {
        frame_.reset();
        gc_.reset();
    }

    // Every pixel of the frame: a colour of its own that changes with `generation`.
    void paint(std::uint32_t generation) {
        const PixelSurface& surface = frame_->surface();
        for (int y = 0; y < surface.height; ++y)
            for (int x = 0; x < surface.width; ++x)
                surface.at(x, y) = pixelFromColour(
                    static_cast<Colour>((x * 7 + y * 13 + generation * 101) & 0xFFFFFF),
                    surface.format);
    }

    // Waits for the server's word that the upload in flight is done.
    void completeUpload(PacedUpload& upload) {
        ASSERT_TRUE(upload.inFlight());
        XEvent event;
        do
            XNextEvent(display_.get(), &event);
        while (!upload.take(event));
        EXPECT_FALSE(upload.inFlight());
    }

    // Rows of the window that show exactly what the frame holds.
    int rowsShownAsInFrame() {
        XSync(display_.get(), False);
        XImage* shown =
            XGetImage(display_.get(), window_, 0, 0, screenWidth, screenHeight, AllPlanes, ZPixmap);
        if (shown == nullptr)
            return -1;
        int rows = 0;
        for (int y = 0; y < screenHeight; ++y) {
            bool same = true;
            for (int x = 0; x < screenWidth && same; ++x)
                same =
                    (XGetPixel(shown, x, y) & 0xFFFFFF) == (frame_->surface().at(x, y) & 0xFFFFFF);
            rows += same ? 1 : 0;
        }
        XDestroyImage(shown);
        return rows;
    }

    static inline std::unique_ptr<PrivateXvfb> xvfb_;
    DisplayConnection display_;
    Window window_ = None;
    std::unique_ptr<GraphicsContext> gc_;
    std::unique_ptr<FrameImage> frame_;
};

TEST_P(PacedUploadTest, AFrameGoesOutOneBandAtATimeAndArrivesWhole) {
    // Bands of 100 rows: 240 rows make three, the last one short.
    PacedUpload upload(display_.get(), window_, screenWidth, screenHeight, 100L * screenWidth);
    paint(1);
    upload.send(*frame_, gc_->get());
    EXPECT_EQ(rowsShownAsInFrame(), 100);
    // Nothing more goes while one is in flight.
    upload.send(*frame_, gc_->get());
    EXPECT_EQ(rowsShownAsInFrame(), 100);
    for (int shownRows : {200, 240}) {
        completeUpload(upload);
        upload.send(*frame_, gc_->get());
        EXPECT_EQ(rowsShownAsInFrame(), shownRows);
    }
    completeUpload(upload);
    EXPECT_FALSE(upload.pending());
    upload.send(*frame_, gc_->get());
    EXPECT_FALSE(upload.inFlight()) << "an upload with nothing changed";
}

TEST_P(PacedUploadTest, DuringATickBandsKeepGoingOutAndOtherEventsStayQueued) {
    PacedUpload upload(display_.get(), window_, screenWidth, screenHeight, 100L * screenWidth);
    paint(1);
    upload.send(*frame_, gc_->get());
    // An event of another kind, queued behind the server's word on the first band.
    XEvent other{};
    other.xclient.type = ClientMessage;
    other.xclient.window = window_;
    other.xclient.format = 32;
    XSendEvent(display_.get(), window_, False, NoEventMask, &other);
    XSync(display_.get(), False);
    upload.keepSending(*frame_, gc_->get());
    EXPECT_TRUE(upload.inFlight());
    EXPECT_EQ(rowsShownAsInFrame(), 200);
    ASSERT_EQ(XPending(display_.get()), 2); // the other event, and the word on the second band
    XEvent first;
    XNextEvent(display_.get(), &first);
    EXPECT_EQ(first.xclient.window, window_);
    EXPECT_FALSE(upload.take(first));
}

TEST_P(PacedUploadTest, PicturesDrawnWhileOneIsInFlightAreDroppedForTheLatest) {
    PacedUpload upload(display_.get(), window_, screenWidth, screenHeight);
    paint(1);
    upload.send(*frame_, gc_->get());
    for (std::uint32_t generation : {2u, 3u, 4u}) {
        paint(generation);
        upload.changedAll();
        upload.send(*frame_, gc_->get());
    }
    completeUpload(upload);
    upload.send(*frame_, gc_->get());
    completeUpload(upload);
    EXPECT_EQ(rowsShownAsInFrame(), screenHeight) << "the latest picture is not shown";
    EXPECT_FALSE(upload.pending());
}

TEST_P(PacedUploadTest, EveryBandHasItsTurnWhenTheWholeFrameKeepsChanging) {
    // Ticks faster than the bands go out mark everything again each time; the bands further
    // down must still be sent, not the top one over and over.
    PacedUpload upload(display_.get(), window_, screenWidth, screenHeight, 60L * screenWidth);
    paint(1);
    for (int band = 0; band < 4; ++band) {
        upload.changedAll();
        upload.send(*frame_, gc_->get());
        completeUpload(upload);
    }
    EXPECT_EQ(rowsShownAsInFrame(), screenHeight);
}

TEST_P(PacedUploadTest, AChangedAreaSendsThatAreaOnlyAndAreasOutsideTheFrameNothing) {
    PacedUpload upload(display_.get(), window_, screenWidth, screenHeight);
    paint(1);
    upload.send(*frame_, gc_->get());
    completeUpload(upload);
    paint(2);
    upload.changed({-50, 30, 80, 10}); // rows 30 to 39, partly left of the frame
    upload.changed({400, 0, 20, 20});  // wholly right of it
    upload.send(*frame_, gc_->get());
    completeUpload(upload);
    // Rows 30 to 39 match from x = 0 to 29 only; no row matches in full.
    EXPECT_EQ(rowsShownAsInFrame(), 0);
    XImage* shown =
        XGetImage(display_.get(), window_, 0, 0, screenWidth, screenHeight, AllPlanes, ZPixmap);
    ASSERT_NE(shown, nullptr);
    const PixelSurface& surface = frame_->surface();
    EXPECT_EQ(XGetPixel(shown, 29, 39) & 0xFFFFFF, surface.at(29, 39) & 0xFFFFFF);
    EXPECT_NE(XGetPixel(shown, 30, 39) & 0xFFFFFF, surface.at(30, 39) & 0xFFFFFF);
    EXPECT_NE(XGetPixel(shown, 0, 40) & 0xFFFFFF, surface.at(0, 40) & 0xFFFFFF);
    XDestroyImage(shown);
}

INSTANTIATE_TEST_SUITE_P(Transfers, PacedUploadTest,
                         testing::Values(FrameImage::Transfer::sharedWhereAvailable,
                                         FrameImage::Transfer::plain),
                         [](const auto& info) {
                             return info.param == FrameImage::Transfer::plain ? "XPutImage"
                                                                              : "SharedMemory";
                         });

TEST(AreasTest, UnionAndClipping) {
    EXPECT_EQ(unionOf({0, 0, 10, 10}, {20, 5, 5, 30}), (Area{0, 0, 25, 35}));
    EXPECT_EQ(clippedTo({-5, -5, 10, 10}, 100, 100), (Area{0, 0, 5, 5}));
    EXPECT_EQ(clippedTo({95, 90, 10, 20}, 100, 100), (Area{95, 90, 5, 10}));
    EXPECT_EQ(clippedTo({100, 0, 10, 10}, 100, 100), std::nullopt);
    EXPECT_EQ(clippedTo({0, 0, 0, 10}, 100, 100), std::nullopt);
    // Far-off corners do not overflow.
    EXPECT_EQ(clippedTo({2'000'000'000, 0, 2'000'000'000, 10}, 100, 100), std::nullopt);
}

} // namespace
