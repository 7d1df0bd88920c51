#pragma once

#include "saver/posix/termination_signals_posix.hpp"
#include "saver/wayland/picture_wayland.hpp"
#include "saver/wayland/wayland_handles_wayland.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zorblinth::wayland {

// One output as the compositor describes it.
struct Output {
    Proxy<wl_output> output;
    Proxy<zxdg_output_v1> xdgOutput; // where the compositor offers xdg-output
    std::uint32_t name = 0;
    std::string connector; // what the compositor calls it ("DP-1"), where it says
    std::int32_t scale = 1;
    std::int32_t pixelWidth = 0; // the current mode, as the hardware scans it out
    std::int32_t pixelHeight = 0;
    std::int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;
    std::int32_t x = 0; // its place in the layout, as wl_output or xdg-output tells it
    std::int32_t y = 0;
    std::int32_t logicalWidth = 0; // from xdg-output only: exact under fractional scales
    std::int32_t logicalHeight = 0;
    bool described = false; // its first description is complete
    bool gone = false;      // the compositor took it away; forgotten once nothing uses it

    // A quarter turn either way: what the hardware calls width the user sees as height.
    bool sideways() const { return transform % 2 == 1; }
    // Its area in the layout: xdg-output's, else its mode turned as the user sees it and
    // divided by its scale.
    LayoutArea layoutArea() const;
};

// The globals the saver uses, bound at the versions it speaks.
struct Globals {
    Proxy<wl_compositor> compositor;
    std::uint32_t compositorVersion = 0;
    Proxy<wl_shm> shm;
    Proxy<wl_seat> seat;
    Proxy<zwlr_layer_shell_v1> layerShell;
    Proxy<xdg_wm_base> windowManager;
    Proxy<zwlr_screencopy_manager_v1> screencopy;
    std::uint32_t screencopyVersion = 0;
    Proxy<wp_viewporter> viewporter;
    Proxy<zxdg_output_manager_v1> xdgOutputs;
    std::vector<std::unique_ptr<Output>> outputs; // in the order the compositor lists them
};

// The connection to the compositor and the waits on it: every wait also wakes for SIGTERM,
// SIGINT and SIGHUP, and stops once the saver is ending.
class Compositor {
public:
    using Clock = std::chrono::steady_clock;

    // seatAnnounced is called once with the seat, as soon as it is bound, for its listener.
    Compositor(wl_display* display, std::function<void(wl_seat*)> seatAnnounced);
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    wl_display* display() const { return display_; }
    Globals& globals() { return globals_; }
    const Globals& globals() const { return globals_; }
    bool lost() const { return lost_; }

    // Whatever else ends the saver (its input, its surfaces closed); asked by every wait.
    void endWhen(std::function<bool()> ending) { ending_ = std::move(ending); }
    bool ending() const {
        return lost_ || posix::TerminationSignals::requested() || (ending_ && ending_());
    }

    // Sends what we asked, waits up to `timeout` (forever when negative) for the compositor or
    // a signal, and handles whatever arrived.
    void waitForEvents(int timeoutMilliseconds);
    // Waits until `done` or the saver is ending, at most `patience`; whether it is done.
    bool waitUntil(Clock::duration patience, const std::function<bool()>& done);
    // Waits until the compositor has handled everything sent so far, at most `patience`; false
    // when it did not (unanswered() from then on) or the saver is ending. A compositor that is
    // stopped or wedged must not hold the saver, and the one-copy lock, for ever.
    bool roundTrip(Clock::duration patience = answerPatience);
    bool unanswered() const { return unanswered_; }
    static constexpr auto answerPatience = std::chrono::seconds(10);
    void flush();

    // Forgets the outputs the compositor took away; nothing may point at them any more.
    void forgetGoneOutputs();

private:
    static const wl_registry_listener registryListener;
    void announce(wl_registry* registry, std::uint32_t name, const char* interface,
                  std::uint32_t version);
    void withdraw(std::uint32_t name);
    void dispatchPending();

    wl_display* display_;
    posix::TerminationSignals signals_;
    Globals globals_;
    Proxy<wl_registry> registry_;
    std::function<void(wl_seat*)> seatAnnounced_;
    std::function<bool()> ending_;
    bool lost_ = false;
    bool unanswered_ = false;
};

} // namespace zorblinth::wayland
