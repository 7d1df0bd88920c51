#pragma once

namespace zorblinth::posix {

// SIGTERM, SIGINT and SIGHUP end the saver promptly, also in the middle of a tick. A signal
// handler can reach only process-wide state, so there is one per process: a flag the tick asks
// and a pipe whose read end wakes an event loop's poll(). A program that has not ended
// deadlineMilliseconds after the first signal (stuck in a call to a display server that does
// not answer: stopped, wedged, across a stalled network) ends then with status 0, as it would
// have.
class TerminationSignals {
public:
    static constexpr long deadlineMilliseconds = 750;

    // Installs the handlers (once per process; later calls reuse them).
    TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Process-wide, as signals are: any part of the program may ask once they are installed.
    static bool requested();
    // Readable once a signal came; -1 when no pipe could be made (the flag still works).
    static int wakeFd();
};

} // namespace zorblinth::posix
