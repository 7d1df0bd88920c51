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

std::optional<ServerSaverSettings> settingsToRestore(const ServerSaverSettings& user,
                                                     const ServerSaverSettings& set,
                                                     const ServerSaverSettings& now) {
    if (now != set)
        return std::nullopt;
    return user;
}

} // namespace zorblinth::idle
