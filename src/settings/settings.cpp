#include "settings/settings.hpp"

#include <cerrno>
#include <fstream>
#include <system_error>

namespace zorblinth {

namespace {

constexpr auto binaryReadWrite = std::ios::in | std::ios::out | std::ios::binary;

std::string reasonFromErrno(int error) {
    return std::generic_category().message(error != 0 ? error : EIO);
}

// Creates the file empty when it does not exist; appending never truncates an existing one.
bool createIfAbsent(const std::filesystem::path& file) {
    std::ofstream created(file, std::ios::app | std::ios::binary);
    return created.is_open();
}

std::filesystem::file_type fileType(const std::filesystem::path& file) {
    std::error_code ignored;
    return std::filesystem::status(file, ignored).type();
}

SaverSettings readTwoBytes(std::istream& in) {
    char bytes[2] = {0, 0};
    in.read(bytes, 2);
    return {static_cast<std::uint8_t>(bytes[0]), static_cast<std::uint8_t>(bytes[1])};
}

} // namespace

std::filesystem::path settingsFilePath(const std::filesystem::path& programFolder) {
    // operator/ adds a separator only where the folder lacks one, so a drive root "C:\"
    // gives "C:\Qelvanor.txt".
    return programFolder / settingsFileName;
}

SettingsFileError::SettingsFileError(std::filesystem::path path, std::string reason)
    : std::runtime_error(path.string() + ": " + reason), path_(std::move(path)),
      reason_(std::move(reason)) {}

SaverSettings readSettings(const std::filesystem::path& file) {
    const auto type = fileType(file);
    if (type == std::filesystem::file_type::not_found) {
        // Where the folder may not be written, an absent file still reads as 0 and 0.
        createIfAbsent(file);
        return {};
    }
    if (type == std::filesystem::file_type::directory)
        throw SettingsFileError(file, reasonFromErrno(EISDIR));

    if (std::fstream stream(file, binaryReadWrite); stream.is_open())
        return readTwoBytes(stream);

    // Exists but is not writable here (a saver installed in a protected folder): read only.
    errno = 0;
    std::ifstream readOnly(file, std::ios::binary);
    if (!readOnly.is_open())
        throw SettingsFileError(file, reasonFromErrno(errno));
    const SaverSettings settings = readTwoBytes(readOnly);
    if (readOnly.bad())
        throw SettingsFileError(file, reasonFromErrno(errno));
    return settings;
}

SaverSettings readSettingsOrZeros(const std::filesystem::path& file) {
    try {
        return readSettings(file);
    } catch (const SettingsFileError&) {
        return {};
    }
}

void writeSettings(const std::filesystem::path& file, SaverSettings settings) {
    errno = 0;
    if (fileType(file) == std::filesystem::file_type::not_found && !createIfAbsent(file))
        throw SettingsFileError(file, reasonFromErrno(errno));
    if (fileType(file) == std::filesystem::file_type::directory)
        throw SettingsFileError(file, reasonFromErrno(EISDIR));

    errno = 0;
    std::fstream stream(file, binaryReadWrite);
    if (!stream.is_open())
        throw SettingsFileError(file, reasonFromErrno(errno));
    const char bytes[2] = {static_cast<char>(settings.lineWidth),
                           static_cast<char>(settings.lineAmount)};
    stream.seekp(0);
    stream.write(bytes, 2);
    stream.close();
    if (stream.fail())
        throw SettingsFileError(file, reasonFromErrno(errno));
}

void writeSettingsCreatingFolder(const std::filesystem::path& file, SaverSettings settings) {
    if (const std::filesystem::path folder = file.parent_path(); !folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error)
            throw SettingsFileError(file, error.message());
    }
    writeSettings(file, settings);
}

} // namespace zorblinth
