#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zorblinth {

// The two bytes of the settings file, in file order.
struct SaverSettings {
    std::uint8_t lineWidth = 0;  // pen width in pixels
    std::uint8_t lineAmount = 0; // line-amount level
    bool operator==(const SaverSettings&) const = default;
};

// The values the dialog offers. Stored bytes outside them (0 from a new or short file, anything
// from a hand-edited one) are brought into them wherever they are used, never in the file.
struct ValueRange {
    std::uint8_t minimum;
    std::uint8_t maximum;
    // Any whole number brought into the range: a stored byte, an option, a scroll position.
    constexpr std::uint8_t clamp(long long value) const {
        return static_cast<std::uint8_t>(value < minimum   ? minimum
                                         : value > maximum ? maximum
                                                           : value);
    }
};
inline constexpr ValueRange lineWidthRange{1, 10};
inline constexpr ValueRange lineAmountRange{1, 20};

constexpr SaverSettings usableSettings(SaverSettings stored) {
    return {lineWidthRange.clamp(stored.lineWidth), lineAmountRange.clamp(stored.lineAmount)};
}

// Values given for this run only (a host passes its own settings on the command line); they win
// over the stored ones.
struct SettingsOverrides {
    std::optional<long> lineWidth;
    std::optional<long> lineAmount;
};

// The settings a saver draws with: the stored ones, overridden where asked, brought into the
// dialog's ranges.
constexpr SaverSettings settingsToUse(SaverSettings stored,
                                      const SettingsOverrides& overrides = {}) {
    return {lineWidthRange.clamp(overrides.lineWidth.value_or(stored.lineWidth)),
            lineAmountRange.clamp(overrides.lineAmount.value_or(stored.lineAmount))};
}

inline constexpr const char* settingsFileName = "Qelvanor.txt";

// The settings file beside the program: the folder, one separator, then the file name.
std::filesystem::path settingsFilePath(const std::filesystem::path& programFolder);

// A settings file that could not be opened, read or written: which file, and the system's error
// for it (an errno value, or on Windows the system's own code), from which each front end words
// the reason in the user's language.
class SettingsFileError : public std::runtime_error {
public:
    SettingsFileError(std::filesystem::path path, std::error_code error);
    // A failure with only the library's text for it and no error code.
    SettingsFileError(std::filesystem::path path, std::string reason);
    const std::filesystem::path& path() const { return path_; }
    const std::error_code& code() const { return code_; }
    // The standard library's (English) text for the error.
    const std::string& reason() const { return reason_; }

private:
    std::filesystem::path path_;
    std::error_code code_;
    std::string reason_;
};

// Only a regular file is read or written as the settings file: a FIFO would block the program
// in the open or the read, a device would never end or swallow what is written. Anything else
// in its place is refused with this error.
std::error_code notARegularFileError(std::filesystem::file_type type);

// A settings path that is a symbolic link (on Windows also a junction) is refused with this error
// when saving: a save writes the file at the path itself, never through a link, which would
// create a dangling link's target or change a file somewhere else. The system has no error that
// says so; its message is the library's own text.
std::error_code settingsPathIsALinkError();

// readSettings and writeSettings reach the file through the platform: on POSIX the opened file
// itself is checked (settings_file_posix.cpp), elsewhere its type is checked by name just before
// the standard library opens it (settings_file.cpp).

// Returns the first two bytes of the file exactly as stored; a byte the file lacks reads as 0.
// A link to a regular file is read through.
// An absent file is created empty where the folder allows it, and reads as 0 and 0 either way.
// A file that may be read but not written is read read-only; nothing is ever changed by reading.
// Throws SettingsFileError when an existing file cannot be read at all, or is not a regular file.
SaverSettings readSettings(const std::filesystem::path& file);

// readSettings, or 0 and 0 when the file cannot be read at all: neither the saver nor the dialog
// stops because of the file (the dialog's ranges make that 1 and 1; a problem with the file is
// reported only when the dialog saves).
SaverSettings readSettingsOrZeros(const std::filesystem::path& file);

// Writes the two bytes at offsets 0 and 1, creating the file when absent. The file is never
// truncated: later bytes stay as they were. Throws SettingsFileError on failure; a file that
// cannot be opened for writing, or is not a regular file, is left untouched. A link at the path
// (on Windows also a junction) is refused (settingsPathIsALinkError), and neither it nor what it
// leads to changes.
void writeSettings(const std::filesystem::path& file, SaverSettings settings);

// writeSettings for a file whose folder may not exist yet (a per-user settings folder before the
// first save): makes the folder and its parents first. A folder that cannot be made is reported
// as the file's SettingsFileError, with the reason it could not be made.
void writeSettingsCreatingFolder(const std::filesystem::path& file, SaverSettings settings);

} // namespace zorblinth
