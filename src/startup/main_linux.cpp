// zorblinth: the settings dialog (no argument or --settings), the standalone saver (--saver),
// on Wayland or X11, or a screen-saver host's hack (--root, --window-id, or $XSCREENSAVER_WINDOW).
#include "dialog/settings_dialog_qt.hpp"
#include "idle/idle_watcher_linux.hpp"
#include "saver/x11/saver_window_x11.hpp"
#include "settings/settings_location_linux.hpp"
#include "startup/command_line_linux.hpp"
#include "startup/exit_status.hpp"
#include "startup/saver_on_wayland_linux.hpp"
#include "startup/single_instance_linux.hpp"
#include "startup/watcher_control_linux.hpp"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using namespace zorblinth;
using namespace zorblinth::posix;

// For the window systems' fatal errors, where nothing can be unwound: the process ends here with
// the outcome's status.
[[noreturn]] void endWithStatusOf(SaverOutcome outcome) {
    std::_Exit(exitStatusOf(outcome));
}

[[noreturn]] void endWithStatusOf(dialog::DialogOutcome outcome) {
    std::_Exit(exitStatusOf(outcome));
}

} // namespace

int main(int argc, char** argv) {
    CommandLine commandLine;
    try {
        const std::vector<std::string_view> arguments(argv + 1, argv + argc);
        commandLine = parseCommandLine(arguments, std::getenv("XSCREENSAVER_WINDOW"));
    } catch (const UsageError& error) {
        std::cerr << "zorblinth: " << error.what() << " (see --help)\n";
        return badCommandLine;
    }

    const std::filesystem::path settingsFile = posix::userSettingsFile();
    // Held until the process ends, once claimed.
    std::optional<posix::SingleInstance> runningCopy;
    const auto claimRunningCopy = [&runningCopy] {
        runningCopy.emplace();
        return !runningCopy->anotherIsRunning();
    };
    switch (commandLine.mode) {
    case LinuxMode::help:
        std::cout << usageText;
        return normalEnd;
    case LinuxMode::saver:
        if (const auto status =
                runSaverOnWaylandIfChosen(settingsFile, claimRunningCopy, commandLine))
            return *status;
        // The saver claims its copy once it knows where the pointer was at the start.
        return exitStatusOf(x11::runStandaloneSaver(settingsFile, commandLine.overrides,
                                                    commandLine.monitors, claimRunningCopy,
                                                    endWithStatusOf));
    case LinuxMode::hosted:
        // A host may run several copies at once (one a screen, a preview), so no lock here.
        return exitStatusOf(x11::runHostedSaver(settingsFile, commandLine.overrides,
                                                commandLine.window, endWithStatusOf));
    case LinuxMode::idle: {
        // Its own lock: the watcher runs beside the saver it starts.
        SingleInstance watcher(SingleInstance::programLockFile(SingleInstance::watcherLockName));
        if (watcher.anotherIsRunning()) {
            std::cerr << "zorblinth: an idle watcher already runs in this session\n";
            return alreadyRunning;
        }
        watcher.recordOwner(); // for --autostart, which ends it
        return idle::runIdleWatcher(
            {*commandLine.idleSeconds, saverArgumentsOf(commandLine), commandLine.verbose});
    }
    case LinuxMode::autostart:
        return runAutostart(commandLine);
    case LinuxMode::settings:
        if (!claimRunningCopy())
            return alreadyRunning;
        return exitStatusOf(qt::runSettingsDialog(argc, argv, settingsFile, endWithStatusOf));
    }
    return normalEnd;
}
