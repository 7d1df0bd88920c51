#include "idle/server_saver.hpp"

#include <algorithm>

namespace zorblinth::idle {

ServerSaverSettings watcherSettings(long timeoutSeconds) {
    return {.timeoutSeconds =
                static_cast<int>(std::clamp(timeoutSeconds, 1L, longestServerTimeoutSeconds)),
            .intervalSeconds = 0,
            .preferBlanking = 0,
            .allowExposures = 0};
}

long idleAfterServerSaverMilliseconds(long timeoutSeconds, bool forced) {
    if (forced || timeoutSeconds <= longestServerTimeoutSeconds)
        return 0;
    return (timeoutSeconds - longestServerTimeoutSeconds) * 1000;
}

ServerSaverSettings userSettings(const ServerSaverSettings& now,
                                 const std::optional<ServerSaverSettings>& recorded) {
    // The record is stale once the settings no longer look like a watcher's: the user has set
    // their own since.
    const bool watchers = now == watcherSettings(now.timeoutSeconds) && now.timeoutSeconds > 0;
    return recorded && watchers ? *recorded : now;
}

std::optional<ServerSaverSettings> settingsToRestore(const ServerSaverSettings& user,
                                                     const ServerSaverSettings& set,
                                                     const ServerSaverSettings& now) {
    if (now != set)
        return std::nullopt;
    return user;
}

} // namespace zorblinth::idle
