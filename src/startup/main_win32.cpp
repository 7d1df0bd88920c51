// Zorblinth.scr: the screen-saver host starts it with /S (run), /P or /A with a window handle
// (preview, password) or /C or nothing (configure).
#include <windows.h>

#include "dialog/settings_dialog_win32.hpp"
#include "saver/win32/saver_window_win32.hpp"
#include "settings/settings.hpp"
#include "startup/exit_status.hpp"
#include "startup/mode.hpp"
#include "startup/program_folder_win32.hpp"
#include "startup/single_instance_win32.hpp"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR argumentText, int) {
    using namespace zorblinth;

    // First of all, before anything can move it: a later mouse move is compared with this.
    POINT cursor{};
    GetCursorPos(&cursor);
    const Point startCursor{cursor.x, cursor.y};

    const win32::SingleInstance instanceClaim;
    if (instanceClaim.anotherIsRunning())
        return alreadyRunning;

    switch (modeFromArguments(argumentText)) {
    case Mode::saver:
        return exitStatusOf(
            win32::runSaver(instance, startCursor, settingsFilePath(win32::programFolder())));
    case Mode::settings:
        return exitStatusOf(
            win32::runSettingsDialog(instance, settingsFilePath(win32::programFolder())));
    case Mode::preview:
    case Mode::password:
        return normalEnd;
    }
    return normalEnd;
}
