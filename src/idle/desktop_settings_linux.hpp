#pragma once

#include <optional>
#include <string>

namespace zorblinth::idle {

// The one line to say when the session's desktop would blank, dim or lock the screen by
// itself before the saver comes after saverSeconds: GNOME's settings through GSettings, KDE's
// from its configuration files. Nothing when the saver comes first, on other desktops, and
// where a setting cannot be read (no schema, an unreadable file): not being able to tell is
// no error.
std::optional<std::string> desktopComesFirst(long saverSeconds);

// --autostart says that line at the keyboard, then starts its watcher with this variable set so
// that the line is said once.
constexpr const char* desktopToldVariable = "ZORBLINTH_DESKTOP_TOLD";

} // namespace zorblinth::idle
