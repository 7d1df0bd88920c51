#pragma once

#include <optional>

namespace zorblinth::idle {

// The X server's own screen saver, as `xset s` sets it. On X11 the watcher makes the server's
// count the trigger: that count already stops while any client holds XScreenSaverSuspend (video
// players, SDL games, browsers) and starts again at every XResetScreenSaver (`xset s reset`,
// `xdg-screensaver reset`) as at every input.
struct ServerSaverSettings {
    int timeoutSeconds = 0; // 0: the server's saver is off
    int intervalSeconds = 0;
    int preferBlanking = 0; // the protocol's values: 0 no, 1 yes, 2 the server's default
    int allowExposures = 0;
    bool operator==(const ServerSaverSettings&) const = default;
};

// The protocol carries the timeout in 16 bits.
inline constexpr long longestServerTimeoutSeconds = 32767;

// What the watcher sets while it runs, whatever the user had before (an earlier `xset s off`
// too: starting the watcher is the newer choice): the server's saver comes on after the
// watcher's timeout, or after the longest the server counts, and then shows nothing (neither
// blanking nor exposures), never cycling: our saver comes instead.
ServerSaverSettings watcherSettings(long timeoutSeconds);

// How much longer the session must stay idle, once the server's saver came on, before ours
// starts: the part of a timeout past the longest the server counts. None when the saver was
// turned on on purpose (`xset s activate`, `xdg-screensaver activate`).
long idleAfterServerSaverMilliseconds(long timeoutSeconds, bool forced);

// Whose settings the watcher found: the server's now, unless a watcher before it recorded the
// user's on the server and was killed before it could put them back (its own are still set;
// a record under the user's newer settings is stale).
ServerSaverSettings userSettings(const ServerSaverSettings& now,
                                 const std::optional<ServerSaverSettings>& recorded);

// What to put back as the watcher ends: the user's settings, unless the server's are no longer
// the watcher's own (someone ran `xset s ...` meanwhile, which is the user's newer choice).
std::optional<ServerSaverSettings> settingsToRestore(const ServerSaverSettings& user,
                                                     const ServerSaverSettings& set,
                                                     const ServerSaverSettings& now);

} // namespace zorblinth::idle
