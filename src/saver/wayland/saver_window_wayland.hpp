#pragma once

#include "saver/lock_on_end.hpp"
#include "saver/saver_session.hpp"
#include "settings/settings.hpp"

#include <memory>

struct wl_display;

namespace zorblinth::wayland {

struct DisplayDisconnect {
    void operator()(wl_display* display) const;
};
using DisplayConnection = std::unique_ptr<wl_display, DisplayDisconnect>;

// A connection to the compositor named by $WAYLAND_DISPLAY or $WAYLAND_SOCKET ("wayland-0" when
// neither is set); null when none answers.
DisplayConnection connectToCompositor();

// The standalone saver on a Wayland compositor: freezes each output's picture (through wlr
// screencopy or KWin's screenshot interface, where the compositor gives it; else black) in an
// overlay layer surface on that output (or a full-screen window where there is no layer shell) that
// takes the keyboard, hides the cursor and scribbles every 50 ms with these settings until the
// first key that types a character, any button, or a move away from where the pointer first entered
// (on another output's surface, any move). Outputs that come or go meanwhile are followed; it ends
// when none is left. With MonitorChoice::primaryOnly it covers the first output the compositor
// lists alone. The caller has claimed the one running copy. Under `verbose` it says on stderr why a
// source gave no picture. With a locker (--lock), input that ends the saver locks the session
// first, the surfaces staying meanwhile (lockAfterInput).
SaverOutcome runStandaloneSaver(DisplayConnection compositor, const SaverSettings& settings,
                                MonitorChoice outputs, bool verbose,
                                SessionLocker* locker = nullptr);

} // namespace zorblinth::wayland
