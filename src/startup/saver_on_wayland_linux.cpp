#include "startup/saver_on_wayland_linux.hpp"

#include "saver/wayland/saver_window_wayland.hpp"

#include <cstdlib>
#include <iostream>
#include <utility>

namespace zorblinth::posix {

namespace {

bool variableSet(const char* name) {
    const char* const value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

ExitStatus noWindowSystem(std::string_view why) {
    std::cerr << "zorblinth: " << why << '\n';
    return windowSystemFailed;
}

} // namespace

std::optional<ExitStatus> runSaverOnWaylandIfChosen(const std::filesystem::path& settingsFile,
                                                    const std::function<bool()>& claimRunningCopy,
                                                    const CommandLine& commandLine,
                                                    SessionLocker* locker) {
    const bool waylandSession = variableSet("WAYLAND_DISPLAY") || variableSet("WAYLAND_SOCKET");
    const auto asked = commandLine.windowSystem;
    if (asked == WindowSystem::x11 || (!asked && !waylandSession)) {
        if (!asked && !variableSet("DISPLAY"))
            return noWindowSystem(
                "no window system to run on: neither WAYLAND_DISPLAY nor DISPLAY is set");
        return std::nullopt;
    }
    wayland::DisplayConnection compositor = wayland::connectToCompositor();
    if (!compositor) {
        if (asked != WindowSystem::wayland)
            return std::nullopt; // a stale WAYLAND_DISPLAY: X11 may still be there
        const char* const name = std::getenv("WAYLAND_DISPLAY");
        return noWindowSystem(std::string("cannot reach the Wayland compositor \"") +
                              (name != nullptr && *name != '\0' ? name : "wayland-0") + "\"");
    }

    if (!claimRunningCopy())
        return alreadyRunning;
    const SaverSettings settings =
        settingsToUse(readSettingsOrZeros(settingsFile), commandLine.overrides);
    return exitStatusOf(wayland::runStandaloneSaver(
        std::move(compositor), settings, commandLine.monitors, commandLine.verbose, locker));
}

} // namespace zorblinth::posix
