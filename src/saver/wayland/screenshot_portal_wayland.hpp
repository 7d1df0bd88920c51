#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace zorblinth::wayland {

// The desktop's screenshot portal (org.freedesktop.portal.Screenshot, xdg-desktop-portal), the
// way to the desktop picture on GNOME, where neither wlr screencopy nor KWin's interface exists.
//
// GNOME's portal answers a program outside a sandbox (app id "") silently only once the user has
// allowed it: until then a Screenshot call, even a non-interactive one, shows the dialog "Allow
// Applications to Take Screenshots?" and sends no answer until someone clicks. Clicking Allow
// puts "screenshot/screenshot: {'': ['yes']}" into the portal's permission store. So:
// - the saver, on its way in, only reads the permission store, and calls Screenshot only when
//   it says yes (takePermittedScreenshot);
// - `zorblinth --autostart`, run by the user at the keyboard, asks once
//   (askScreenshotPermission), so that the dialog comes while the user is there to answer.
// Both speak sd-bus, never block (the bus's fd is polled against a deadline of ours, and also
// wakes for SIGTERM, SIGINT and SIGHUP), and close the bus without flushing.

// What the saver's way in gave: the URI of the file the portal wrote (a PNG of the whole
// desktop), or why there is none, in words for --verbose.
struct PortalScreenshot {
    std::optional<std::string> uri;
    std::string failure;
};

// Asks the permission store whether this program may take screenshots without asking, and only
// when it may, asks the portal for one (interactive false), all until `deadline` at most.
PortalScreenshot takePermittedScreenshot(std::chrono::steady_clock::time_point deadline);

// What asking the user gave.
enum class PermissionAnswer {
    allowed,    // the portal gave a screenshot: it will give the saver one without asking
    denied,     // the user (or the portal) said no
    noAnswer,   // nobody answered the dialog within the patience given
    unavailable // no portal on the session bus, or it failed
};
struct PermissionRequest {
    PermissionAnswer answer = PermissionAnswer::unavailable;
    std::string detail; // one line for the user, e.g. "the portal did not answer within 60 s"
};

// For `zorblinth --autostart` on GNOME: one non-interactive Screenshot call made while the user
// is at the keyboard, so that GNOME asks them whether to allow it; waits for the answer up to
// `patience` (GNOME's dialog gives up after about 25 s) or a termination signal, deletes any
// picture the portal wrote, and says what happened. Where the permission is already given, it
// answers `allowed` at once and silently.
PermissionRequest askScreenshotPermission(std::chrono::steady_clock::duration patience);

} // namespace zorblinth::wayland
