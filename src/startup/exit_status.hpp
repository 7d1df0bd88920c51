#pragma once

#include "dialog/dialog_model.hpp"
#include "saver/saver_session.hpp"

namespace zorblinth {

// The program's exit statuses, as documented in the README.
enum ExitStatus : int {
    normalEnd = 0,          // saver ended by the user, preview or password mode, dialog closed
    settingsNotSaved = 1,   // "設定" could not write the settings file; the user was told why
    alreadyRunning = 2,     // another copy is running; this one showed nothing
    windowSystemFailed = 3, // a window or drawing surface could not be created
    sessionNotLocked = 4,   // Linux: the saver ended, but the lock asked for (--lock) was not had
    badCommandLine = 64,    // Linux: an option the program does not know (EX_USAGE)
};

constexpr ExitStatus exitStatusOf(SaverOutcome outcome) {
    switch (outcome) {
    case SaverOutcome::ended:
        return normalEnd;
    case SaverOutcome::endedNotLocked:
        return sessionNotLocked;
    case SaverOutcome::anotherCopyRunning:
        return alreadyRunning;
    case SaverOutcome::windowSystemFailed:
        return windowSystemFailed;
    }
    return windowSystemFailed;
}

constexpr ExitStatus exitStatusOf(dialog::DialogOutcome outcome) {
    switch (outcome) {
    case dialog::DialogOutcome::closed:
        return normalEnd;
    case dialog::DialogOutcome::settingsNotSaved:
        return settingsNotSaved;
    case dialog::DialogOutcome::windowSystemFailed:
        return windowSystemFailed;
    }
    return windowSystemFailed;
}

} // namespace zorblinth
