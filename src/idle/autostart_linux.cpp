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

// A value's string escapes undone (\s, \n, \t, \r, \\).
std::string unescapeValue(std::string_view value) {
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        switch (const char next = value[++i]) {
        case 's':
            plain += ' ';
            break;
        case 'n':
            plain += '\n';
            break;
        case 't':
            plain += '\t';
            break;
        case 'r':
            plain += '\r';
            break;
        default:
            plain += next;
        }
    }
    return plain;
}

// An Exec value (string escapes undone) split into arguments: spaces separate, double quotes
// group, and inside them a backslash escapes the next character; %% is a percent sign and the
// other field codes go.
std::vector<std::string> splitExec(std::string_view exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted && c == '\\' && i + 1 < exec.size()) {
            current += exec[++i];
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if (c == '%' && i + 1 < exec.size()) {
            if (exec[++i] == '%') { // a field code alone leaves no argument
                current += '%';
                inArgument = true;
            }
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

} // namespace

std::optional<std::vector<std::string>> autostartCommandOf(std::string_view text) {
    std::optional<std::string> exec;
    bool inMainGroup = false;
    bool turnedOff = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.starts_with('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos)
            continue;
        auto trimmed = [](std::string_view part) {
            while (!part.empty() && part.front() == ' ')
                part.remove_prefix(1);
            while (!part.empty() && part.back() == ' ')
                part.remove_suffix(1);
            return part;
        };
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (key == "Exec")
            exec = unescapeValue(value);
        else if ((key == "Hidden" && value == "true") ||
                 (key == "X-GNOME-Autostart-enabled" && value == "false"))
            turnedOff = true;
    }
    if (!exec || turnedOff)
        return std::nullopt;
    return splitExec(*exec);
}

std::optional<std::vector<std::string>> readAutostartCommand(const std::filesystem::path& entry) {
    constexpr std::size_t largestEntry = 64 * 1024;
    const int file = open(entry.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0)
        return std::nullopt;
    struct stat status {};
    std::string text;
    if (fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::size_t>(status.st_size) <= largestEntry) {
        text.resize(largestEntry);
        std::size_t done = 0;
        for (ssize_t got = 0; done < text.size(); done += static_cast<std::size_t>(got)) {
            got = read(file, text.data() + done, text.size() - done);
            if (got < 0 && errno == EINTR)
                got = 0;
            else if (got <= 0)
                break;
        }
        text.resize(done);
    }
    close(file);
    if (text.empty())
        return std::nullopt;
    return autostartCommandOf(text);
}

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
