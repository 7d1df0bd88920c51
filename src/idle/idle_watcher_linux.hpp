#pragma once

#include <string>
#include <vector>

namespace zorblinth::idle {

struct WatcherOptions {
    long timeoutSeconds = 600;
    // The saver's command line after the program: --saver and what is passed on.
    std::vector<std::string> saverArguments;
    // Say also why a check of the desktop's was skipped (no logind).
    bool verbose = false;
};

// Watches the session until SIGTERM (0) or until its compositor, server or bus goes away, or
// it offers no idle source (3, with one line said). Starts the saver each time the session has
// been idle for the timeout.
int runIdleWatcher(const WatcherOptions& options);

} // namespace zorblinth::idle
