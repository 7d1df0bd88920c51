// zorblinth: the settings dialog (no argument or --settings), the standalone saver (--saver),
// on Wayland or X11, or a screen-saver host's hack (--root, --window-id, or $XSCREENSAVER_WINDOW).
#include "dialog/settings_dialog_qt.hpp"
#include "saver/saver_window_x11.hpp"
#include "settings/settings_location_linux.hpp"
#include "startup/command_line_linux.hpp"
#include "startup/exit_status.hpp"
#include "startup/saver_on_wayland_linux.hpp"
#include "startup/single_instance_linux.hpp"

#include <cstdlib>
#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    using namespace zorblinth;

    CommandLine commandLine;
    try {
        const std::vector<std::string_view> arguments(argv + 1, argv + argc);
        commandLine = parseCommandLine(arguments, std::getenv("XSCREENSAVER_WINDOW"));
    } catch (const UsageError& error) {
        std::cerr << "zorblinth: " << error.what() << " (see --help)\n";
        return badCommandLine;
    }

    const std::filesystem::path settingsFile = posix::userSettingsFile();
    switch (commandLine.mode) {
    case LinuxMode::help:
        std::cout << usageText;
        return normalEnd;
    case LinuxMode::saver:
        if (const auto status = runSaverOnWaylandIfChosen(
                settingsFile, posix::SingleInstance::programLockFile(), commandLine))
            return *status;
        return x11::runStandaloneSaver(settingsFile, posix::SingleInstance::programLockFile(),
                                       commandLine);
    case LinuxMode::hosted:
        // A host may run several copies at once (one a screen, a preview), so no lock here.
        return x11::runHostedSaver(settingsFile, commandLine);
    case LinuxMode::settings: {
        const posix::SingleInstance instanceClaim;
        if (instanceClaim.anotherIsRunning())
            return alreadyRunning;
        return qt::runSettingsDialog(argc, argv, settingsFile);
    }
    }
    return normalEnd;
}
