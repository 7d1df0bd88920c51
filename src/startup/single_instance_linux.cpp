#include "startup/single_instance_linux.hpp"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zorblinth::posix {

std::filesystem::path SingleInstance::programLockFile() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return std::filesystem::path(runtime) / "zorblinth.lock";
    return std::filesystem::path("/tmp") / ("zorblinth-" + std::to_string(getuid()) + ".lock");
}

SingleInstance::SingleInstance(const std::filesystem::path& lockFile) {
    file_ = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file_ < 0)
        return;
    if (flock(file_, LOCK_EX | LOCK_NB) != 0)
        anotherIsRunning_ = errno == EWOULDBLOCK;
}

SingleInstance::~SingleInstance() {
    if (file_ >= 0)
        close(file_);
}

} // namespace zorblinth::posix
