#include "saver/wayland/saver_window_wayland.hpp"

#include "saver/saver_session.hpp"
#include "saver/wayland/compositor_wayland.hpp"
#include "saver/wayland/desktop_pictures_wayland.hpp"
#include "saver/wayland/input_surface_wayland.hpp"
#include "saver/wayland/output_surface_wayland.hpp"
#include "saver/wayland/seat_wayland.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace zorblinth::wayland {

void DisplayDisconnect::operator()(wl_display* display) const {
    wl_display_disconnect(display);
}

DisplayConnection connectToCompositor() {
    return DisplayConnection(wl_display_connect(nullptr));
}

namespace {

using Clock = std::chrono::steady_clock;

// How long the sources of the desktop pictures may take, all together, before the saver starts
// from black: it must cover the screen within a second whatever a compositor or a bus service
// does.
constexpr auto picturePatience = std::chrono::milliseconds(600);
// How long an output added while the saver runs may take to be configured before it is left
// uncovered; at the start the saver waits for as long as it takes.
constexpr auto addedOutputPatience = std::chrono::seconds(5);

bool xdgShellForced() {
    const char* const shell = std::getenv("ZORBLINTH_WAYLAND_SHELL");
    return shell != nullptr && std::string_view(shell) == "xdg";
}

// Whether wlr screencopy is left unused, to try the next source where a compositor offers it.
bool screencopyTurnedOff() {
    const char* const screencopy = std::getenv("ZORBLINTH_WAYLAND_SCREENCOPY");
    return screencopy != nullptr && std::string_view(screencopy) == "off";
}

// What lives across the events of one saver run: the connection, the session judging the
// input, the seat, and one surface an output covered.
struct Saver {
    Saver(wl_display* display, const SaverSettings& settings, MonitorChoice outputs, bool verbose)
        : session(std::nullopt, settings),
          seat([this](const InputEvent& event) { session.take(event); },
               [this](const InputEvent& event) {
                   session.pointerMovedBySystem(event.position, event.surface);
               },
               [this](wl_surface* surface) { return find(surface); }),
          compositor(display, [this](wl_seat* announced) { seat.listen(announced); }),
          outputs(outputs), sources{.screencopy = !screencopyTurnedOff(), .verbose = verbose} {
        compositor.endWhen([this] { return session.ended() || (started && surfaces.empty()); });
    }
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;

    bool ending() const { return compositor.ending(); }

    const PointerTarget* find(wl_surface* surface) const {
        for (const auto& covering : surfaces)
            if (covering->surface() == surface)
                return covering.get();
        for (const auto& watching : watched)
            if (watching->surface() == surface)
                return watching.get();
        return nullptr;
    }
    bool covers(const Output* output) const {
        return std::any_of(surfaces.begin(), surfaces.end(),
                           [output](const auto& covering) { return covering->output() == output; });
    }
    bool watches(const Output* output) const {
        return std::any_of(watched.begin(), watched.end(),
                           [output](const auto& watching) { return watching->output() == output; });
    }

    SaverSession session;
    SeatInput seat;
    Compositor compositor;
    MonitorChoice outputs;
    PictureSources sources;
    // In the overlay layer, where there is one; else full-screen windows.
    bool layerShell = false;
    // In the overlay layer the copy is taken through the saver's own transparent surface,
    // without the cursor; a full-screen window is shown only once it has its picture, since
    // compositors put black behind one.
    bool copyThroughSurface = false;
    std::vector<std::unique_ptr<OutputSurface>> surfaces;
    // With --one-monitor in the overlay layer: a transparent surface on every other output, for
    // its input alone.
    std::vector<std::unique_ptr<InputSurface>> watched;
    unsigned nextSurfaceId = 1;
    bool started = false; // from now on, a saver left with no surface has nothing to cover
};

// Commits every surface and waits, at most `patience`, until the compositor has shown them all.
void showAndWait(Saver& saver, std::span<OutputSurface* const> covering, Clock::duration patience,
                 bool seeThrough) {
    auto shown = std::make_unique<bool[]>(covering.size());
    std::vector<Proxy<wl_callback>> frames;
    for (std::size_t i = 0; i < covering.size(); ++i)
        frames.push_back(seeThrough ? covering[i]->showSeeThrough(shown[i])
                                    : covering[i]->commitForFrame(shown[i]));
    saver.compositor.waitUntil(patience, [&] {
        return std::all_of(shown.get(), shown.get() + covering.size(), [](bool b) { return b; });
    });
}

enum class Covered { yes, failed, ending };

Covered fail(std::string_view why) {
    std::cerr << "zorblinth: " << why << '\n';
    return Covered::failed;
}

// Puts a surface on each of these outputs (null: where the compositor chooses) and shows each
// output's frozen picture there. The copy must not contain the saver: see copyThroughSurface.
Covered coverOutputs(Saver& saver, const std::vector<Output*>& outputs,
                     Clock::duration configurePatience) {
    std::vector<OutputSurface*> covering;
    for (Output* output : outputs) {
        saver.surfaces.push_back(
            std::make_unique<OutputSurface>(saver.compositor, output, saver.nextSurfaceId++,
                                            saver.session.drawingForAnotherMonitor()));
        covering.push_back(saver.surfaces.back().get());
    }
    std::vector<std::unique_ptr<FrozenPicture>> pictures;
    if (!saver.copyThroughSurface)
        pictures = takeDesktopPictures(saver.compositor, outputs, picturePatience, saver.sources);
    for (OutputSurface* surface : covering)
        if (!surface->create(saver.layerShell))
            return fail("cannot create the saver's surface");
    saver.compositor.waitUntil(configurePatience, [&] {
        return std::all_of(covering.begin(), covering.end(),
                           [](const OutputSurface* surface) { return surface->configured(); });
    });
    if (saver.ending())
        return Covered::ending;
    for (std::size_t i = 0; i < covering.size(); ++i) {
        const std::optional<CapturedFrame> frame =
            i < pictures.size() && pictures[i] ? std::optional(pictures[i]->frame()) : std::nullopt;
        if (!covering[i]->configured() || !covering[i]->settleSize(frame ? &*frame : nullptr))
            return fail("the Wayland compositor gave the saver no size");
        covering[i]->ackConfigure();
    }
    if (saver.copyThroughSurface) {
        showAndWait(saver, covering, std::chrono::seconds(1), true);
        // The pointer enters with that frame, and the saver asks at once for no cursor; one more
        // frame shows the output without it. A pointer already in (an output added later)
        // stays where it is.
        saver.compositor.waitUntil(std::chrono::milliseconds(500),
                                   [&] { return saver.seat.pointerEntered(); });
        for (OutputSurface* surface : covering)
            surface->ackConfigure();
        if (!saver.compositor.roundTrip())
            return Covered::ending;
        showAndWait(saver, covering, std::chrono::milliseconds(200), false);
        pictures = takeDesktopPictures(saver.compositor, outputs, picturePatience, saver.sources);
        if (saver.ending())
            return Covered::ending;
    }
    for (std::size_t i = 0; i < covering.size(); ++i) {
        if (i < pictures.size() && pictures[i]) {
            const CapturedFrame frame = pictures[i]->frame();
            covering[i]->makePicture(&frame);
            pictures[i].reset(); // the copy's memory, before the buffers take theirs
        } else {
            covering[i]->makePicture(nullptr);
        }
        if (!covering[i]->showPicture())
            return fail("cannot make shared-memory buffers for the saver's picture");
    }
    return Covered::yes;
}

// With --one-monitor in the overlay layer, puts a transparent surface for input on every
// output that has none of the saver's and is not `toBeDrawn`, and shows each once configured
// (within `patience`). Without a layer shell nothing is put there: see docs/linux-desktops.md.
void watchOutputs(Saver& saver, Clock::duration patience, std::span<Output* const> toBeDrawn = {}) {
    if (saver.outputs != MonitorChoice::primaryOnly || !saver.layerShell)
        return;
    std::vector<InputSurface*> added;
    for (const auto& output : saver.compositor.globals().outputs) {
        if (!output->described || output->gone || saver.covers(output.get()) ||
            saver.watches(output.get()) ||
            std::find(toBeDrawn.begin(), toBeDrawn.end(), output.get()) != toBeDrawn.end())
            continue;
        auto watching =
            std::make_unique<InputSurface>(saver.compositor, output.get(), saver.nextSurfaceId++);
        if (watching->create()) {
            added.push_back(watching.get());
            saver.watched.push_back(std::move(watching));
        }
    }
    if (added.empty())
        return;
    saver.compositor.waitUntil(patience, [&] {
        return std::all_of(added.begin(), added.end(),
                           [](const InputSurface* watching) { return watching->configured(); });
    });
    for (InputSurface* watching : added)
        watching->followConfigure();
}

// Outputs taken away lose their surfaces, and so do surfaces the compositor closed; outputs
// that came are covered, unless the saver keeps to one.
void followOutputs(Saver& saver) {
    std::erase_if(saver.surfaces, [&saver](const auto& surface) {
        const bool gone = surface->closed() || (surface->output() && surface->output()->gone);
        if (gone)
            saver.seat.forget(surface.get());
        return gone;
    });
    std::erase_if(saver.watched, [&saver](const auto& watching) {
        const bool gone = watching->closed() || watching->output()->gone;
        if (gone)
            saver.seat.forget(watching.get());
        return gone;
    });
    saver.compositor.forgetGoneOutputs();
    if (saver.ending())
        return;
    if (saver.outputs != MonitorChoice::every) {
        watchOutputs(saver, addedOutputPatience);
        return;
    }
    for (const auto& output : saver.compositor.globals().outputs) {
        if (!output->described || saver.covers(output.get()))
            continue;
        if (coverOutputs(saver, {output.get()}, addedOutputPatience) != Covered::yes &&
            !saver.ending()) {
            // Left uncovered; the others go on.
            std::erase_if(saver.surfaces,
                          [&](const auto& surface) { return surface->output() == output.get(); });
            return;
        }
    }
}

// Whether the surface shows its picture yet (one being added may not).
bool drawn(const OutputSurface& surface) {
    return surface.hasPicture();
}

// Ticks on the schedule and handles the compositor's events between ticks until the saver ends.
void runEventLoop(Saver& saver) {
    TickSchedule schedule(Clock::now());
    // Asked now and then by a long tick: handles input that has arrived, and says whether the
    // saver is ending, so that the rest of the tick, which nobody would see, is not drawn.
    const InputWaiting endingInputArrived = [&saver] {
        if (saver.ending())
            return true;
        saver.compositor.waitForEvents(0);
        return saver.ending();
    };
    while (!saver.ending()) {
        followOutputs(saver);
        if (saver.ending())
            break;
        for (const auto& surface : saver.surfaces)
            surface->followConfigure();
        for (const auto& watching : saver.watched)
            watching->followConfigure();
        if (schedule.due(Clock::now())) {
            // Each output in turn, each over every core.
            for (const auto& surface : saver.surfaces)
                if (drawn(*surface) && !saver.ending())
                    surface->tick(endingInputArrived);
            if (saver.ending())
                break;
            for (const auto& surface : saver.surfaces)
                if (drawn(*surface))
                    surface->present();
            schedule.ticked(Clock::now());
            // A tick that ran late is followed at once by the next: what the compositor sent
            // meanwhile (a buffer back, input) is taken first.
            if (schedule.due(Clock::now()))
                saver.compositor.waitForEvents(0);
            continue;
        }
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(schedule.untilNext(Clock::now()));
        saver.compositor.waitForEvents(static_cast<int>(wait.count()));
    }
}

// While the session locks: the surfaces stay and the compositor is answered, for `time` at
// most; false on a termination signal or the connection lost.
bool keepCovering(Saver& saver, Clock::duration time) {
    const auto until = Clock::now() + time;
    while (!saver.compositor.lost() && !posix::TerminationSignals::requested()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left <= std::chrono::milliseconds::zero())
            return true;
        saver.compositor.waitForEvents(static_cast<int>(left.count()));
    }
    return false;
}

SaverOutcome connectionLost(wl_display* display) {
    const int error = wl_display_get_error(display);
    std::cerr << "zorblinth: lost the connection to the Wayland compositor ("
              << std::strerror(error != 0 ? error : EPIPE) << ")\n";
    return SaverOutcome::windowSystemFailed;
}

SaverOutcome notAnswering() {
    std::cerr << "zorblinth: the Wayland compositor did not answer within "
              << Compositor::answerPatience.count() << " seconds\n";
    return SaverOutcome::windowSystemFailed;
}

SaverOutcome failed(std::string_view why) {
    fail(why);
    return SaverOutcome::windowSystemFailed;
}

// The outputs to cover at the start: every one, or the first the compositor lists (it has to
// be known before the surface shows, to copy its picture); with none listed, one surface where
// the compositor chooses.
std::vector<Output*> outputsToCover(const Globals& globals, MonitorChoice choice) {
    std::vector<Output*> outputs;
    for (const auto& output : globals.outputs)
        if (!output->gone && (choice == MonitorChoice::every || outputs.empty()))
            outputs.push_back(output.get());
    if (outputs.empty())
        outputs.push_back(nullptr);
    return outputs;
}

} // namespace

SaverOutcome runStandaloneSaver(DisplayConnection connection, const SaverSettings& settings,
                                MonitorChoice outputs, bool verbose, SessionLocker* locker) {
    Saver saver(connection.get(), settings, outputs, verbose);
    // The globals, then what they tell at once: outputs' modes and scales, the seat's devices.
    if (!saver.compositor.roundTrip() || !saver.compositor.roundTrip()) {
        if (saver.compositor.lost())
            return connectionLost(connection.get());
        if (saver.compositor.unanswered())
            return notAnswering();
        return SaverOutcome::ended; // asked to end meanwhile
    }
    const Globals& globals = saver.compositor.globals();
    if (!globals.compositor || !globals.shm)
        return failed("the Wayland compositor offers no surfaces in shared memory");
    if (!globals.layerShell && !globals.windowManager)
        return failed("the Wayland compositor offers neither layer shell nor xdg-shell");
    saver.layerShell = globals.layerShell && !xdgShellForced();
    saver.copyThroughSurface = saver.layerShell && globals.screencopy && saver.sources.screencopy;

    const std::vector<Output*> toCover = outputsToCover(globals, outputs);
    // The outputs left undrawn see the pointer first: where it is on one of them, it enters
    // there before the drawn surface shows.
    watchOutputs(saver, Compositor::answerPatience, toCover);
    const Covered covered = coverOutputs(saver, toCover, Compositor::answerPatience);
    if (saver.compositor.lost())
        return connectionLost(connection.get());
    if (saver.compositor.unanswered())
        return notAnswering();
    if (covered == Covered::failed)
        return SaverOutcome::windowSystemFailed;
    if (covered == Covered::ending)
        return SaverOutcome::ended;
    saver.started = true;
    // From the first frame on, a pointer that only now enters may have moved (firstPositionIsLate).
    saver.compositor.waitUntil(std::chrono::seconds(1), [&saver] {
        return std::all_of(saver.surfaces.begin(), saver.surfaces.end(),
                           [](const auto& surface) { return surface->pictureShown(); });
    });
    saver.session.surfacesShown(Clock::now());

    runEventLoop(saver);
    if (saver.compositor.lost())
        return connectionLost(connection.get());
    const LockResult lock = lockAfterInput(locker, saver.session, [&saver](Clock::duration time) {
        return keepCovering(saver, time);
    });
    if (saver.compositor.lost())
        return connectionLost(connection.get());
    return outcomeWith(lock);
}

} // namespace zorblinth::wayland
