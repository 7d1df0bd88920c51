// The settings file through the standard library, for platforms without a file access of their
// own (Windows). The standard library cannot open without blocking or ask an open stream what it
// is, so the type is checked by name just before opening; whether a link stands in the file's
// place is asked of the platform (settings_link.hpp). Reading follows a link to a regular file;
// saving never writes through one.
#include "settings/settings.hpp"
#include "settings/settings_link.hpp"

#include <cerrno>
#include <fstream>

namespace zorblinth {

namespace {

constexpr auto binaryReadWrite = std::ios::in | std::ios::out | std::ios::binary;

// errno is the best the standard library leaves after a failed stream operation.
std::error_code lastStreamError() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

// Creates the file empty when it does not exist; appending never truncates an existing one.
bool createIfAbsent(const std::filesystem::path& file) {
    std::ofstream created(file, std::ios::app | std::ios::binary);
    return created.is_open();
}

// Whether the file is absent; throws when it exists as anything but a regular file, or its
// status cannot be had.
bool absentOrRegular(const std::filesystem::path& file) {
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(file, error).type();
    if (type == std::filesystem::file_type::not_found)
        return true;
    if (error)
        throw SettingsFileError(file, error);
    if (type != std::filesystem::file_type::regular)
        throw SettingsFileError(file, notARegularFileError(type));
    return false;
}

SaverSettings readTwoBytes(std::istream& in) {
    char bytes[2] = {0, 0};
    in.read(bytes, 2);
    return {static_cast<std::uint8_t>(bytes[0]), static_cast<std::uint8_t>(bytes[1])};
}

} // namespace

SaverSettings readSettings(const std::filesystem::path& file) {
    if (absentOrRegular(file)) {
        // Where the folder may not be written, an absent file still reads as 0 and 0. A link
        // leading nowhere reads the same, and what it names is not made.
        if (!isALinkInPlace(file))
            createIfAbsent(file);
        return {};
    }

    if (std::fstream stream(file, binaryReadWrite); stream.is_open())
        return readTwoBytes(stream);

    // Exists but is not writable here (a saver installed in a protected folder): read only.
    errno = 0;
    std::ifstream readOnly(file, std::ios::binary);
    if (!readOnly.is_open())
        throw SettingsFileError(file, lastStreamError());
    const SaverSettings settings = readTwoBytes(readOnly);
    if (readOnly.bad())
        throw SettingsFileError(file, lastStreamError());
    return settings;
}

void writeSettings(const std::filesystem::path& file, SaverSettings settings) {
    // Writing through a link would change a file elsewhere, or make the one a dangling link
    // names; a junction leads into another folder.
    if (isALinkInPlace(file))
        throw SettingsFileError(file, settingsPathIsALinkError());
    if (absentOrRegular(file)) {
        errno = 0;
        if (!createIfAbsent(file))
            throw SettingsFileError(file, lastStreamError());
    }

    errno = 0;
    std::fstream stream(file, binaryReadWrite);
    if (!stream.is_open())
        throw SettingsFileError(file, lastStreamError());
    const char bytes[2] = {static_cast<char>(settings.lineWidth),
                           static_cast<char>(settings.lineAmount)};
    stream.seekp(0);
    stream.write(bytes, 2);
    stream.close();
    if (stream.fail())
        throw SettingsFileError(file, lastStreamError());
}

} // namespace zorblinth
