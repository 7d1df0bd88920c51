#include "saver/posix/termination_signals_posix.hpp"

#include <csignal>
#include <ctime>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace zorblinth::posix {

namespace {

volatile std::sig_atomic_t terminationRequested = 0;
int terminationPipe[2] = {-1, -1};
timer_t deadline{};
bool deadlineMade = false;

void requestTermination(int) {
    if (terminationRequested == 0 && deadlineMade) {
        itimerspec inAWhile{};
        inAWhile.it_value.tv_nsec = TerminationSignals::deadlineMilliseconds * 1'000'000L;
        timer_settime(deadline, 0, &inAWhile, nullptr);
    }
    terminationRequested = 1;
    const char wake = 0;
    [[maybe_unused]] const auto written = write(terminationPipe[1], &wake, 1);
}

// The deadline passed: the program is stuck in a call to a server that does not answer. The
// server lets go of the grabs and the hidden cursor once our connection closes, and the
// one-copy lock goes with the process, so ending here leaves nothing behind.
void endNow(int) {
    _exit(0);
}

} // namespace

TerminationSignals::TerminationSignals() {
    if (terminationPipe[0] >= 0)
        return;
    if (pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        terminationPipe[0] = terminationPipe[1] = -1;
    struct sigaction ending {};
    ending.sa_handler = endNow;
    sigemptyset(&ending.sa_mask);
    sigaction(SIGALRM, &ending, nullptr);
    sigevent alarm{};
    alarm.sigev_notify = SIGEV_SIGNAL;
    alarm.sigev_signo = SIGALRM;
    deadlineMade = timer_create(CLOCK_MONOTONIC, &alarm, &deadline) == 0;
    struct sigaction action {};
    action.sa_handler = requestTermination;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool TerminationSignals::requested() {
    return terminationRequested != 0;
}

int TerminationSignals::wakeFd() {
    return terminationPipe[0];
}

} // namespace zorblinth::posix
