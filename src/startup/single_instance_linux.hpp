#pragma once

#include <filesystem>

namespace zorblinth::posix {

// Claims the program's one running copy for as long as it lives, through an exclusive lock on
// a file. The kernel drops the lock when the process ends, however it ends, so a copy that
// crashed never keeps the next one from starting.
class SingleInstance {
public:
    // $XDG_RUNTIME_DIR/zorblinth.lock, or a file of this user's in /tmp without that folder.
    static std::filesystem::path programLockFile();

    // Copies claiming the same file exclude each other; the program always uses
    // programLockFile().
    explicit SingleInstance(const std::filesystem::path& lockFile = programLockFile());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False also when the lock file cannot be made at all: running twice then is better than
    // not running.
    bool anotherIsRunning() const { return anotherIsRunning_; }

private:
    int file_ = -1;
    bool anotherIsRunning_ = false;
};

} // namespace zorblinth::posix
