#pragma once

#include "idle/idle_watch.hpp"
#include "idle/session_bus_linux.hpp"

#include <utility>

namespace zorblinth::idle {

// Who keeps the saver away, on the session bus: the watcher's own org.freedesktop.ScreenSaver
// where nobody owns that name (bare compositors, X11 window managers), as browsers and video
// players call it; and, asked before each start, the desktop's own inhibitors (GNOME's session
// manager, KDE's power management).
class Inhibitors {
public:
    // Null without a session bus.
    static std::unique_ptr<Inhibitors> open(IdleWatch& watch);
    Inhibitors(const Inhibitors&) = delete;
    Inhibitors& operator=(const Inhibitors&) = delete;

    int fd() const { return sd_bus_get_fd(bus_.get()); }
    short events() const { return static_cast<short>(sd_bus_get_events(bus_.get())); }
    int timeoutMilliseconds() const { return busTimeoutMilliseconds(bus_.get()); }
    // Handles the calls and signals that came; false once the bus is gone.
    bool process();
    // Whether the desktop says the session must not go idle now (each asked with a deadline).
    bool desktopInhibits();
    bool ownsScreenSaverName() const { return ownsName_; }
    // Whether GNOME's shield came up (its blank, before and after it locks) since the last call
    // and is still up; told by its ActiveChanged, handled in process().
    bool takeShieldRaised() { return std::exchange(shieldRaised_, false); }
    sd_bus* bus() const { return bus_.get(); }

private:
    Inhibitors(Bus bus, IdleWatch& watch) : bus_(std::move(bus)), watch_(watch) {}
    static int inhibit(sd_bus_message* call, void* data, sd_bus_error* error);
    static int uninhibit(sd_bus_message* call, void* data, sd_bus_error* error);
    static int ownerChanged(sd_bus_message* signal, void* data, sd_bus_error* error);
    static int shieldChanged(sd_bus_message* signal, void* data, sd_bus_error* error);

    Bus bus_;
    IdleWatch& watch_;
    bool ownsName_ = false;
    bool shieldRaised_ = false;
    Slot objects_[2];
    Slot nameWatch_;
    Slot shieldWatch_;
};

} // namespace zorblinth::idle
