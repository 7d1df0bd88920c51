#include "saver/termination_signals_posix.hpp"

#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace zorblinth::posix {

namespace {

volatile std::sig_atomic_t terminationRequested = 0;
int terminationPipe[2] = {-1, -1};

void requestTermination(int) {
    terminationRequested = 1;
    const char wake = 0;
    [[maybe_unused]] const auto written = write(terminationPipe[1], &wake, 1);
}

} // namespace

TerminationSignals::TerminationSignals() {
    if (terminationPipe[0] >= 0)
        return;
    if (pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        terminationPipe[0] = terminationPipe[1] = -1;
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
