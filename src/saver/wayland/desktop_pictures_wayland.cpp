#include "saver/wayland/desktop_pictures_wayland.hpp"

#include "saver/wayland/kwin_screenshot_wayland.hpp"
#include "saver/wayland/portal_picture_wayland.hpp"
#include "saver/wayland/screencopy_wayland.hpp"
#include "saver/wayland/screenshot_portal_wayland.hpp"

#include <algorithm>
#include <iostream>
#include <string>
#include <string_view>

namespace zorblinth::wayland {

namespace {

using Clock = std::chrono::steady_clock;
using Pictures = std::vector<std::unique_ptr<FrozenPicture>>;

// KWin's picture of a screen, upright already.
class KWinPicture : public FrozenPicture {
public:
    explicit KWinPicture(ScreenPicture picture) : picture_(std::move(picture)) {}
    CapturedFrame frame() const override {
        return {.data = picture_.bytes.data(),
                .width = picture_.width,
                .height = picture_.height,
                .strideBytes = picture_.strideBytes,
                .format = picture_.format,
                .upright = true};
    }

private:
    ScreenPicture picture_;
};

// An output's area of the portal's picture of the whole desktop, upright; the picture is
// shared by every output cut out of it.
class PortalCut : public FrozenPicture {
public:
    PortalCut(std::shared_ptr<const DesktopImage> image, PixelArea area)
        : image_(std::move(image)), area_(area) {}
    CapturedFrame frame() const override {
        const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(image_->width) * 4;
        return {.data = reinterpret_cast<const std::byte*>(image_->pixels.data()) +
                        area_.y * stride + static_cast<std::ptrdiff_t>(area_.x) * 4,
                .width = area_.width,
                .height = area_.height,
                .strideBytes = stride,
                .format = desktopImagePixels,
                .upright = true};
    }

private:
    std::shared_ptr<const DesktopImage> image_;
    PixelArea area_;
};

// Collects the failures of one source into the single line --verbose shows for it.
class SourceFailures {
public:
    SourceFailures(std::string_view source, bool verbose) : source_(source), verbose_(verbose) {}
    SourceFailures(const SourceFailures&) = delete;
    SourceFailures& operator=(const SourceFailures&) = delete;
    ~SourceFailures() {
        if (!verbose_ || first_.empty())
            return;
        std::cerr << "zorblinth: no desktop picture from " << source_ << ": " << first_;
        if (more_ > 0)
            std::cerr << " (and " << more_ << " more output" << (more_ > 1 ? "s" : "") << ')';
        std::cerr << '\n';
    }
    void add(std::string why) {
        if (first_.empty())
            first_ = std::move(why);
        else
            ++more_;
    }

private:
    std::string_view source_;
    bool verbose_;
    std::string first_;
    int more_ = 0;
};

bool missing(const Pictures& pictures, std::span<Output* const> outputs, std::size_t i) {
    return !pictures[i] && outputs[i] != nullptr;
}

void copyThroughScreencopy(Compositor& compositor, std::span<Output* const> outputs,
                           Pictures& pictures, Clock::time_point deadline, PictureSources sources) {
    SourceFailures failures("wlr screencopy", sources.verbose);
    const Globals& globals = compositor.globals();
    if (!sources.screencopy) {
        failures.add("turned off");
        return;
    }
    if (!globals.screencopy) {
        failures.add("the compositor does not offer it");
        return;
    }
    std::vector<std::unique_ptr<Capture>> captures(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i)
        if (missing(pictures, outputs, i))
            captures[i] =
                std::make_unique<Capture>(globals.screencopy.get(), globals.screencopyVersion,
                                          globals.shm.get(), outputs[i]->output.get());
    compositor.waitUntil(deadline - Clock::now(), [&captures] {
        return std::all_of(captures.begin(), captures.end(),
                           [](const auto& capture) { return !capture || capture->done(); });
    });
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!captures[i])
            continue;
        if (captures[i]->done() && captures[i]->succeeded())
            pictures[i] = std::move(captures[i]);
        else
            failures.add(captures[i]->done() ? "the compositor could not copy an output"
                                             : "the compositor did not copy an output in time");
    }
}

void askKWin(std::span<Output* const> outputs, Pictures& pictures, Clock::time_point deadline,
             bool verbose) {
    SourceFailures failures("KWin's screenshot interface", verbose);
    std::vector<std::size_t> asked;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!missing(pictures, outputs, i))
            continue;
        if (outputs[i]->connector.empty()) {
            failures.add("the compositor does not name its outputs");
            continue;
        }
        asked.push_back(i);
        names.push_back(outputs[i]->connector);
    }
    if (names.empty())
        return;
    std::vector<ScreenCapture> captures = captureScreens(names, deadline);
    for (std::size_t k = 0; k < asked.size(); ++k) {
        if (captures[k].picture)
            pictures[asked[k]] = std::make_unique<KWinPicture>(std::move(*captures[k].picture));
        else
            failures.add(std::move(captures[k].failure));
    }
}

// The portal's picture covers the whole desktop, laid out as the compositor lays out every
// output (not only those asked for).
std::vector<LayoutArea> desktopLayout(const Compositor& compositor) {
    std::vector<LayoutArea> layout;
    for (const auto& output : compositor.globals().outputs)
        if (!output->gone)
            layout.push_back(output->layoutArea());
    return layout;
}

// Only where the portal's permission store says this program may take screenshots without
// asking: the saver must never bring up the portal's dialog on its way in.
void askPortal(const Compositor& compositor, std::span<Output* const> outputs, Pictures& pictures,
               Clock::time_point deadline, bool verbose) {
    SourceFailures failures("the screenshot portal", verbose);
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        if (missing(pictures, outputs, i))
            asked.push_back(i);
    if (asked.empty())
        return;
    const auto failAll = [&](const std::string& why) {
        for (std::size_t k = 0; k < asked.size(); ++k)
            failures.add(why);
    };
    const PortalScreenshot shot = takePermittedScreenshot(deadline);
    if (!shot.uri)
        return failAll(shot.failure);
    PortalPicture picture = readPortalPicture(*shot.uri, deadline);
    if (!picture.image)
        return failAll(picture.failure);
    if (!picture.failure.empty() && verbose) // a picture, but a file left behind
        std::cerr << "zorblinth: " << picture.failure << '\n';
    const std::vector<LayoutArea> layout = desktopLayout(compositor);
    for (const std::size_t i : asked) {
        const std::optional<PixelArea> area = pictureAreaOf(
            outputs[i]->layoutArea(), layout, picture.image->width, picture.image->height);
        if (area)
            pictures[i] = std::make_unique<PortalCut>(picture.image, *area);
        else
            failures.add("its picture (" + std::to_string(picture.image->width) + "x" +
                         std::to_string(picture.image->height) +
                         ") does not match the outputs' layout");
    }
}

} // namespace

Pictures takeDesktopPictures(Compositor& compositor, std::span<Output* const> outputs,
                             Clock::duration patience, PictureSources sources) {
    const Clock::time_point deadline = Clock::now() + patience;
    Pictures pictures(outputs.size());
    const auto anyMissing = [&] {
        for (std::size_t i = 0; i < outputs.size(); ++i)
            if (missing(pictures, outputs, i))
                return true;
        return false;
    };
    if (anyMissing())
        copyThroughScreencopy(compositor, outputs, pictures, deadline, sources);
    if (anyMissing() && !compositor.ending())
        askKWin(outputs, pictures, deadline, sources.verbose);
    if (anyMissing() && !compositor.ending())
        askPortal(compositor, outputs, pictures, deadline, sources.verbose);
    if (sources.verbose && anyMissing())
        std::cerr << "zorblinth: starting from black where no source gave a picture\n";
    return pictures;
}

} // namespace zorblinth::wayland
