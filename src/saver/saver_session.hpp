#pragma once

#include "saver/ending.hpp"
#include "saver/random_source.hpp"
#include "saver/raster/pixel_surface.hpp"
#include "saver/tick.hpp"
#include "settings/settings.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zorblinth {

// How often the picture grows: twenty ticks a second.
inline constexpr std::chrono::milliseconds tickPeriod{50};

// The saver window's title on every window system (never shown: the window has no frame).
inline constexpr std::string_view saverWindowTitle = "Form1";

// Which monitors the standalone saver covers.
enum class MonitorChoice {
    every,       // each with its own picture and its own lines
    primaryOnly, // the primary monitor alone (the first output where none is marked primary)
};

// How a saver run ended; start-up turns it into the program's exit status.
enum class SaverOutcome {
    ended,              // by the user, the host or a signal
    endedNotLocked,     // by the user, but the session lock asked for was not had
    anotherCopyRunning, // the one running copy is someone else's; nothing was shown
    windowSystemFailed, // no window system, or no window or surface could be made there
};

// When ticks fall due: on a fixed grid of tickPeriod steps from the start, so that a tick
// drawn a little late does not push every later one back. A tick that runs past the next step
// delays that tick, which then falls due as soon as it ends (a window timer's tick waits the
// same way while the one before is drawn); any further steps it ran past are not made up.
class TickSchedule {
public:
    using Clock = std::chrono::steady_clock;

    explicit TickSchedule(Clock::time_point start) : next_(start + tickPeriod) {}

    Clock::time_point next() const { return next_; }
    bool due(Clock::time_point now) const { return now >= next_; }
    // Time left until the next tick; zero once it is due.
    Clock::duration untilNext(Clock::time_point now) const {
        return due(now) ? Clock::duration::zero() : next_ - now;
    }
    // A tick was drawn and the clock now reads `now`: the next one is the step after the one
    // it was due at, or, where the tick ran past that, the last step it ran past (due at once).
    void ticked(Clock::time_point now);

private:
    Clock::time_point next_;
};

// One picture's growth: the settings in force, its own random source and the drawing's
// working storage. A saver over several monitors keeps one for each, so that each draws the
// batch its own area earns and lines of its own.
class PictureDrawing {
public:
    PictureDrawing(SaverSettings settings, RandomSource random)
        : settings_(usableSettings(settings)), random_(random) {}

    const SaverSettings& settings() const { return settings_; }

    // Draws one tick onto the picture. endingInputWaits, when given, is asked now and then while
    // the tick draws; it must say yes only for input that ends the saver, and the tick then
    // stops at once, since nobody will see the rest. Returns false when it stopped early.
    bool tick(const PixelSurface& picture, const InputWaiting& endingInputWaits = {}) {
        return drawTick(picture, settings_.lineWidth, random_, settings_.lineAmount, workspace_,
                        endingInputWaits);
    }

private:
    SaverSettings settings_;
    RandomSource random_;
    TickWorkspace workspace_;
};

// What lives across the events of one saver run, whatever the window system: where the pointer
// was at start-up, the settings in force, the drawing of its first picture, and whether the
// saver is ending.
// A front end turns its events into InputEvents, hands them to take(), calls tick() when the
// schedule says so and shows the surface's pixels. A front end that covers several monitors
// draws each with a drawing of its own (drawingForAnotherMonitor) and lets the session judge the
// input alone.
//
// Where the window system cannot tell the pointer's position before the saver's surface has it
// (Wayland), the session starts without a start cursor: the first move it takes is the start;
// where it came later than enterPatience after the surfaces were shown (surfacesShown), the first
// motion report after it ends the saver wherever it is (see firstPositionIsLate). Moves are
// compared only on the start's own surface: a move reported on another surface is the pointer gone
// over to another monitor.
class SaverSession {
public:
    SaverSession(std::optional<Point> startCursor, SaverSettings settings,
                 RandomSource random = RandomSource{})
        : startCursor_(startCursor), drawing_(settings, random), random_(random) {}

    std::optional<Point> startCursor() const { return startCursor_; }
    const SaverSettings& settings() const { return drawing_.settings(); }

    // Whether this input would end the saver.
    bool endsSaver(const InputEvent& event) const {
        if (event.kind == InputKind::mouseMove) {
            if (!startCursor_)
                return false;
            if (event.surface != startSurface_)
                return true;
        }
        return zorblinth::endsSaver(event, startCursor_.value_or(Point{}));
    }

    // Takes one piece of the user's input, arrived at `now`; true when it ends the saver
    // (ended() from then on).
    bool take(const InputEvent& event,
              std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) {
        if (!startCursor_ && event.kind == InputKind::mouseMove) {
            startCursor_ = event.position;
            startSurface_ = event.surface;
            lateStart_ = shownAt_ && firstPositionIsLate(now - *shownAt_);
        } else if ((event.kind == InputKind::mouseMove && lateStart_ && !event.entered) ||
                   endsSaver(event)) {
            // After a late start, the motion that brought the pointer in, or one after it.
            endedByInput_ = endedByInput_ || !ended_;
            ended_ = true;
        }
        return ended_;
    }

    // The compositor has shown the saver's surfaces, at `when`; after a first position told
    // much later, any motion is a move.
    void surfacesShown(std::chrono::steady_clock::time_point when) {
        if (!shownAt_)
            shownAt_ = when;
    }

    // The window system moved the pointer itself (the monitor under it was taken away): no sign
    // of the user, and where it is now is the start from here on.
    void pointerMovedBySystem(Point position, unsigned surface = 0) {
        startCursor_ = position;
        startSurface_ = surface;
        lateStart_ = false;
    }

    // The window system says who holds activation now (see activationEndsSaver); true when the
    // saver is ending.
    bool activationHeldBy(ActivationHolder holder) {
        if (activationEndsSaver(heldActivation_, holder))
            ended_ = true;
        heldActivation_ = heldActivation_ || holder == ActivationHolder::saver;
        return ended_;
    }

    // Ends the saver for a reason of the window system's (a signal, another program taking the
    // screen, the window going away).
    void end() { ended_ = true; }
    bool ended() const { return ended_; }
    // Whether it was the user's input that ended it (what a lock on resume follows).
    bool endedByInput() const { return endedByInput_; }

    // Draws one tick onto the picture (see PictureDrawing::tick).
    bool tick(const PixelSurface& picture, const InputWaiting& endingInputWaits = {}) {
        return drawing_.tick(picture, endingInputWaits);
    }

    // A drawing for one more monitor, with the session's settings and a random source of its
    // own: the n-th is set 2^40 draws on from the session's (centuries of ticks apart), so no
    // two monitors ever draw the same lines, even where they were made in the same microsecond.
    PictureDrawing drawingForAnotherMonitor() {
        return PictureDrawing(settings(), random_.ahead(++monitorsDrawn_ << 40));
    }

private:
    std::optional<Point> startCursor_;
    unsigned startSurface_ = 0;
    std::optional<std::chrono::steady_clock::time_point> shownAt_;
    bool lateStart_ = false;
    PictureDrawing drawing_;
    RandomSource random_; // where every monitor's source is counted from
    std::uint64_t monitorsDrawn_ = 0;
    bool heldActivation_ = false;
    bool ended_ = false;
    bool endedByInput_ = false;
};

} // namespace zorblinth
