#include "saver/wayland/desktop_pictures_wayland.hpp"

#include "saver/wayland/kwin_screenshot_wayland.hpp"
#include "saver/wayland/screencopy_wayland.hpp"

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
    if (sources.verbose && anyMissing())
        std::cerr << "zorblinth: starting from black where no source gave a picture\n";
    return pictures;
}

} // namespace zorblinth::wayland
