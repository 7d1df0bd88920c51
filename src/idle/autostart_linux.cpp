#include "idle/autostart_linux.hpp"

#include "settings/settings_location_linux.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorblinth::idle {

namespace {

// An Exec argument: quoted when it holds anything but plain characters, with the characters
// that stay special inside quotes escaped, and every backslash doubled again for the entry's
// string escaping.
std::string execArgument(std::string_view argument) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`%";
    if (!argument.empty() && argument.find_first_of(reserved) == std::string_view::npos)
        return std::string(argument);
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += "\\\\"; // a backslash in the argument, itself escaped in the entry
        if (c == '\\')
            quoted += "\\\\";
        else if (c == '%')
            quoted += "%%";
        else
            quoted += c;
    }
    return quoted + '"';
}

} // namespace

std::filesystem::path autostartEntry(const char* configHome, const std::filesystem::path& home) {
    // The settings' folder is chosen by the same rule; its parent is the configuration home.
    return posix::settingsFolder(configHome, home).parent_path() / "autostart" /
           "zorblinth-idle.desktop";
}

std::string autostartEntryText(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments) {
    std::string exec = execArgument(program.native());
    for (const std::string& argument : arguments)
        exec += ' ' + execArgument(argument);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Zorblinth idle watcher\n"
           "Name[ja]=Zorblinth アイドル監視\n"
           "Comment=Starts the Zorblinth screen saver when the session has been idle\n"
           "Exec=" +
           exec +
           "\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool writeAutostartEntry(const std::filesystem::path& entry, std::string_view text,
                         std::string& why) {
    std::error_code error;
    std::filesystem::create_directories(entry.parent_path(), error);
    const std::filesystem::path temporary = entry.native() + ".new";
    const int file =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file < 0) {
        why = std::strerror(errno);
        return false;
    }
    bool written = true;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t wrote = write(file, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        written = wrote > 0;
        done += written ? static_cast<std::size_t>(wrote) : 0;
    }
    written = written && fsync(file) == 0;
    const int writeError = errno;
    written = close(file) == 0 && written;
    if (!written || rename(temporary.c_str(), entry.c_str()) != 0) {
        why = std::strerror(written ? errno : writeError);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace zorblinth::idle
