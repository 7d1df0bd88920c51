#include "startup/single_instance_linux.hpp"
#include "platform/file_descriptor_linux.hpp"

#include "settings/settings_location_linux.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorblinth::posix {

namespace {

// Nobody but this user may add, remove or replace what is in it.
bool isPrivate(const struct stat& folder) {
    return S_ISDIR(folder.st_mode) && folder.st_uid == geteuid() && (folder.st_mode & 077) == 0;
}

void warnRunningWithout(std::ostream& warnings, const std::filesystem::path& lockFile,
                        const char* why) {
    warnings << "zorblinth: " << lockFile.native() << " is not used as the one-copy lock: " << why
             << "; running without it" << std::endl;
}

} // namespace

std::filesystem::path SingleInstance::lockFolder(const char* runtimeFolder, const char* cacheHome,
                                                 const std::filesystem::path& home) {
    if (runtimeFolder && *runtimeFolder == '/' && isPrivateFolder(runtimeFolder))
        return runtimeFolder;
    const std::filesystem::path cache =
        cacheHome && *cacheHome == '/' ? std::filesystem::path(cacheHome) : home / ".cache";
    return cache / "zorblinth";
}

bool SingleInstance::isPrivateFolder(const std::filesystem::path& folder) {
    struct stat status {};
    return lstat(folder.c_str(), &status) == 0 && isPrivate(status);
}

void SingleInstance::makePrivateFolder(const std::filesystem::path& folder) {
    std::filesystem::path made;
    for (const std::filesystem::path& part : folder) {
        made /= part;
        mkdir(made.c_str(), 0700); // an existing one is left as it is
    }
    // Taken away through the folder itself, never through a link put in its place.
    const FileDescriptor opened(
        open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (opened && fstat(opened.get(), &status) == 0 && status.st_uid == geteuid() &&
        (status.st_mode & 077) != 0)
        fchmod(opened.get(), status.st_mode & 0700);
}

std::filesystem::path SingleInstance::programLockFile(const char* name) {
    const char* runtimeFolder = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path folder =
        lockFolder(runtimeFolder, std::getenv("XDG_CACHE_HOME"), homeFolder());
    if (!runtimeFolder || folder != runtimeFolder)
        makePrivateFolder(folder);
    return folder / name;
}

SingleInstance::SingleInstance(const std::filesystem::path& lockFile)
    : SingleInstance(lockFile, std::cerr) {}

SingleInstance::SingleInstance(const std::filesystem::path& lockFile, std::ostream& warnings) {
    // Everything below goes through the folder as opened and checked once: what is checked is
    // what is used, even if names change meanwhile.
    const std::filesystem::path folderPath =
        lockFile.has_parent_path() ? lockFile.parent_path() : std::filesystem::path(".");
    const FileDescriptor folder(
        open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        const int error = errno;
        if (error == ELOOP || error == ENOTDIR) {
            claim_ = Claim::refused;
            warnRunningWithout(warnings, lockFile, "its folder is a link or not a folder");
        } else {
            warnRunningWithout(warnings, lockFile, std::strerror(error));
        }
        return;
    }
    struct stat status {};
    if (fstat(folder.get(), &status) != 0 || !isPrivate(status)) {
        claim_ = Claim::refused;
        warnRunningWithout(warnings, lockFile,
                           "its folder belongs to another user or others may write it");
        return;
    }

    // No link is followed: a planted one must not make this user create or lock a file of
    // someone else's choosing. Nor does a FIFO block the open.
    const std::string name = lockFile.filename().native();
    file_ = openat(folder.get(), name.c_str(),
                   O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (file_ < 0) {
        const int error = errno;
        struct stat there {};
        if (fstatat(folder.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
            claim_ = Claim::refused;
            warnRunningWithout(warnings, lockFile,
                               S_ISLNK(there.st_mode) ? "it is a link"
                                                      : "it is not a regular file");
        } else {
            warnRunningWithout(warnings, lockFile, std::strerror(error));
        }
        return;
    }
    if (fstat(file_, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
        close(file_);
        file_ = -1;
        claim_ = Claim::refused;
        warnRunningWithout(warnings, lockFile,
                           "it is not a regular file or belongs to another user");
        return;
    }

    if (flock(file_, LOCK_EX | LOCK_NB) == 0) {
        claim_ = Claim::held;
    } else if (errno == EWOULDBLOCK) {
        claim_ = Claim::heldByAnother;
    } else {
        warnRunningWithout(warnings, lockFile, std::strerror(errno));
    }
}

void SingleInstance::recordOwner() {
    if (claim_ != Claim::held)
        return;
    const std::string pid = std::to_string(getpid()) + '\n';
    if (ftruncate(file_, 0) == 0) [[maybe_unused]]
        const auto written = pwrite(file_, pid.data(), pid.size(), 0);
}

std::optional<int> SingleInstance::ownerOf(const std::filesystem::path& lockFile) {
    const FileDescriptor file(
        open(lockFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    // A lock we can take is held by nobody (ours is dropped again as the descriptor closes).
    if (!file || flock(file.get(), LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return std::nullopt;
    char text[24] = {};
    const ssize_t length = pread(file.get(), text, sizeof text - 1, 0);
    if (length <= 0)
        return std::nullopt;
    const long pid = std::strtol(text, nullptr, 10);
    if (pid <= 1 || pid > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(pid);
}

SingleInstance::~SingleInstance() {
    if (file_ >= 0)
        close(file_);
}

} // namespace zorblinth::posix
