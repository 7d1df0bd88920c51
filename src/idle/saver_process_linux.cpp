#include "idle/saver_process_linux.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <utility>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zorblinth::idle {

namespace {

// How long a saver asked to end may take: it ends within its own deadline of 750 ms.
constexpr int endingMilliseconds = 2000;

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    return 128 + WTERMSIG(waitStatus);
}

} // namespace

std::optional<SaverProcess> SaverProcess::start(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t watcher = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        std::cerr << "zorblinth: cannot start the saver: " << std::strerror(errno) << '\n';
        return std::nullopt;
    }
    if (pid == 0) {
        // Only async-signal-safe calls here. The signals the watcher catches are reset by
        // exec; the mask is not, so it is cleared.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != watcher)
            _exit(3); // the watcher died before the line above took effect
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(3);
    }
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        std::cerr << "zorblinth: cannot watch the saver: " << std::strerror(errno) << '\n';
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return std::nullopt;
    }
    return SaverProcess(pid, pidfd);
}

SaverProcess::SaverProcess(SaverProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::exchange(other.pidfd_, -1)),
      askedToEnd_(other.askedToEnd_) {}

void SaverProcess::terminate() {
    if (pid_ > 0 && kill(pid_, SIGTERM) == 0)
        askedToEnd_ = true;
}

int SaverProcess::reap() {
    int waitStatus = 0;
    while (waitpid(pid_, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return statusOf(waitStatus);
}

SaverProcess::~SaverProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        pollfd ended{pidfd_, POLLIN, 0};
        if (poll(&ended, 1, endingMilliseconds) <= 0)
            kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (pidfd_ >= 0)
        close(pidfd_);
}

} // namespace zorblinth::idle
