// The settings file through POSIX calls: opened without blocking, and the opened file's own type
// checked before a byte is read or written, so nothing at that path can hold the program (a FIFO
// blocks an ordinary open until a peer comes, and its read until one writes). Reading follows a
// link to a regular file; saving writes only the file at the path itself, never through a link.
#include "settings/settings.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorblinth {

namespace {

std::error_code errnoError(int error) {
    return {error != 0 ? error : EIO, std::generic_category()};
}

// A file descriptor closed with its owner.
class OpenFile {
public:
    OpenFile(const std::filesystem::path& file, int flags)
        : descriptor_(::open(file.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666)) {}
    ~OpenFile() {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    explicit operator bool() const { return descriptor_ >= 0; }
    int descriptor() const { return descriptor_; }

    // Closes now, to learn whether the last writes reached the file; errno on failure.
    int close() {
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int descriptor_;
};

std::filesystem::file_type typeOf(mode_t mode) {
    using std::filesystem::file_type;
    return S_ISREG(mode)    ? file_type::regular
           : S_ISDIR(mode)  ? file_type::directory
           : S_ISFIFO(mode) ? file_type::fifo
           : S_ISCHR(mode)  ? file_type::character
           : S_ISBLK(mode)  ? file_type::block
           : S_ISSOCK(mode) ? file_type::socket
                            : file_type::unknown;
}

void requireRegularFile(const std::filesystem::path& file, const OpenFile& opened) {
    struct stat status {};
    if (fstat(opened.descriptor(), &status) != 0)
        throw SettingsFileError(file, errnoError(errno));
    if (!S_ISREG(status.st_mode))
        throw SettingsFileError(file, notARegularFileError(typeOf(status.st_mode)));
}

// Refuses what is not a regular file by name, before opening it: opening a device may already do
// something. The opened file is checked again, as the name may since lead elsewhere.
void refuseAnythingButARegularFile(const std::filesystem::path& file) {
    if (struct stat status{}; stat(file.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        throw SettingsFileError(file, notARegularFileError(typeOf(status.st_mode)));
}

bool isALink(const std::filesystem::path& file) {
    struct stat status {};
    return lstat(file.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// Creates the file empty, only where nothing is at the path: O_EXCL neither opens an existing
// file nor follows a link. A folder that may not be written leaves it absent.
void createIfAbsent(const std::filesystem::path& file) {
    OpenFile created(file, O_WRONLY | O_CREAT | O_EXCL);
}

} // namespace

SaverSettings readSettings(const std::filesystem::path& file) {
    refuseAnythingButARegularFile(file);
    const OpenFile opened(file, O_RDONLY);
    if (!opened) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            createIfAbsent(file);
            return {};
        }
        throw SettingsFileError(file, errnoError(error));
    }
    requireRegularFile(file, opened);

    unsigned char bytes[2] = {0, 0};
    std::size_t have = 0;
    while (have < sizeof bytes) {
        const ssize_t got = ::read(opened.descriptor(), bytes + have, sizeof bytes - have);
        if (got == 0)
            break; // a byte the file lacks reads as 0
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw SettingsFileError(file, errnoError(errno));
        }
        have += static_cast<std::size_t>(got);
    }
    return {bytes[0], bytes[1]};
}

void writeSettings(const std::filesystem::path& file, SaverSettings settings) {
    // Refused by name first where possible: opening a device may already do something. A link
    // to one is refused for what it leads to, as reading refuses it.
    refuseAnythingButARegularFile(file);
    // O_CREAT follows a dangling link and creates its target, and a link to a regular file would
    // have a file elsewhere written: the last component is opened without following it. The
    // system's error for a link there, ELOOP ("Too many levels of symbolic links"), does not
    // say why, and may also come from the folders above it.
    OpenFile opened(file, O_RDWR | O_CREAT | O_NOFOLLOW);
    if (!opened) {
        const int error = errno;
        if (error == ELOOP && isALink(file))
            throw SettingsFileError(file, settingsPathIsALinkError());
        throw SettingsFileError(file, errnoError(error));
    }
    requireRegularFile(file, opened); // it may have been replaced since

    const unsigned char bytes[2] = {settings.lineWidth, settings.lineAmount};
    std::size_t written = 0;
    while (written < sizeof bytes) {
        const ssize_t put = ::pwrite(opened.descriptor(), bytes + written, sizeof bytes - written,
                                     static_cast<off_t>(written));
        if (put <= 0) {
            if (put < 0 && errno == EINTR)
                continue;
            throw SettingsFileError(file, errnoError(put < 0 ? errno : EIO));
        }
        written += static_cast<std::size_t>(put);
    }
    if (const int error = opened.close(); error != 0)
        throw SettingsFileError(file, errnoError(error));
}

} // namespace zorblinth
