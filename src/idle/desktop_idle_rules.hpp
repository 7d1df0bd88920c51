#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorblinth::idle {

// The desktops whose own idle settings the watcher knows, from $XDG_CURRENT_DESKTOP (a
// colon-separated list: "ubuntu:GNOME").
enum class Desktop { gnome, kde, other };
Desktop desktopOf(std::string_view currentDesktops);

// One thing the desktop does by itself once the session has had no input for a while.
struct DesktopIdleStep {
    std::string what;    // "blanks the screen"
    long seconds = 0;    // after this long without input
    std::string setting; // where it is kept: "org.gnome.desktop.session idle-delay"
    std::string where;   // where the user changes it: "Settings → Power → Screen Blank"
    std::string then;    // what follows it, if anything: "and locks it 30 s later"
};

// GNOME's settings as GSettings gives them (org.gnome.desktop.session idle-delay,
// org.gnome.desktop.screensaver lock-enabled and lock-delay), with GNOME's defaults.
struct GnomeIdleSettings {
    std::uint32_t idleDelaySeconds = 300; // 0: never blank
    bool lockEnabled = true;
    std::uint32_t lockDelaySeconds = 0; // after the blank
};
std::vector<DesktopIdleStep> gnomeIdleSteps(const GnomeIdleSettings& settings);

// A KDE configuration file (KConfig's INI dialect): its groups, a nested one named with '/'
// between its parts ("[AC][DimDisplay]" is "AC/DimDisplay"), each with its keys' values.
// Localised keys are left out; what is not an entry or a group header is skipped, as KDE does.
using KdeConfig =
    std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>;
KdeConfig parseKdeConfig(std::string_view text);

// KDE's steps from kscreenlockerrc (absent: KDE's defaults, which lock after 5 minutes) and
// PowerDevil's powermanagementprofilesrc (absent: not known, so none), its AC profile.
std::vector<DesktopIdleStep> kdeIdleSteps(const KdeConfig& screenLocker,
                                          const std::optional<KdeConfig>& powerProfiles);

// The one line to say (without a trailing newline) when the desktop's first step comes before
// the saver or with it; empty when the saver comes first.
std::optional<std::string> desktopComesFirstLine(std::string_view desktopName,
                                                 const std::vector<DesktopIdleStep>& steps,
                                                 long saverSeconds);

} // namespace zorblinth::idle
