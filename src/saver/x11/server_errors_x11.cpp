#include "saver/x11/server_errors_x11.hpp"

#include "saver/posix/termination_signals_posix.hpp"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace zorblinth::x11 {

namespace {

// Xlib calls its I/O error handler once the connection is gone and ends the process when the
// handler returns; the handler takes no context of its own, so the way out is kept here.
EndProcess endOnLostConnection = nullptr;

int connectionLost(Display* display) {
    std::fprintf(stderr, "zorblinth: lost the connection to the X display \"%s\"\n",
                 DisplayString(display));
    std::fflush(stderr);
    endOnLostConnection(SaverOutcome::windowSystemFailed);
    std::abort(); // endOnLostConnection does not return
}

// Xlib's own error handler ends the process with status 1, "settings not saved", after a dump.
// A window or drawable that another program destroyed is no fault of ours: its DestroyNotify
// tells the saver, which ends or carries on as it should. Anything else is said in one line, and
// the saver goes on: the user can still end it.
int requestRefused(Display* display, XErrorEvent* error) {
    if (error->error_code == BadWindow || error->error_code == BadDrawable)
        return 0;
    char text[128] = "";
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "zorblinth: the X server refused a request (%s; request %d.%d)\n", text,
                 error->request_code, error->minor_code);
    return 0;
}

} // namespace

void prepareForEnding(EndProcess endProcess) {
    const posix::TerminationSignals installed;
    endOnLostConnection = endProcess;
    XSetIOErrorHandler(connectionLost);
    XSetErrorHandler(requestRefused);
}

} // namespace zorblinth::x11
