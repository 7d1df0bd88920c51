#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace zorblinth::idle {

// The saver the watcher starts: this program's own executable with --saver and the options
// passed on. The process ends with its owner: ended with SIGTERM and reaped when this object
// goes, and sent SIGTERM by the kernel should the watcher die without unwinding (killed), so no
// saver outlives the watcher that nobody could then account for.
class SaverProcess {
public:
    // Starts it; none (with one line said) when fork or pidfd failed.
    static std::optional<SaverProcess> start(const std::vector<std::string>& arguments);
    SaverProcess(SaverProcess&& other) noexcept;
    SaverProcess& operator=(SaverProcess&&) = delete;
    SaverProcess(const SaverProcess&) = delete;
    ~SaverProcess();

    // Readable once the process has ended.
    int fd() const { return pidfd_; }
    // Asks it to end with SIGTERM (which never locks), without waiting: fd() tells the end.
    void terminate();
    bool askedToEnd() const { return askedToEnd_; }
    // Reaps it once fd() is readable: its exit status, 128+signal when killed.
    int reap();

private:
    SaverProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool askedToEnd_ = false;
};

} // namespace zorblinth::idle
