#include "settings/settings.hpp"

#include <cerrno>

namespace zorblinth {

std::filesystem::path settingsFilePath(const std::filesystem::path& programFolder) {
    // operator/ adds a separator only where the folder lacks one, so a drive root "C:\"
    // gives "C:\Qelvanor.txt".
    return programFolder / settingsFileName;
}

SettingsFileError::SettingsFileError(std::filesystem::path path, std::error_code error)
    : SettingsFileError(std::move(path), error.message()) {
    code_ = error;
}

SettingsFileError::SettingsFileError(std::filesystem::path path, std::string reason)
    : std::runtime_error(path.string() + ": " + reason), path_(std::move(path)),
      reason_(std::move(reason)) {}

std::error_code notARegularFileError(std::filesystem::file_type type) {
    // "Operation not supported": the file exists, but the program cannot keep its settings in
    // that kind of file.
    return std::make_error_code(type == std::filesystem::file_type::directory
                                    ? std::errc::is_a_directory
                                    : std::errc::operation_not_supported);
}

namespace {
// The settings file's failures that the system has no error for.
class SettingsFileCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "settings file"; }
    std::string message(int) const override {
        return "Is a symbolic link: settings are saved only in a regular file at that path, never "
               "through a link";
    }
};
} // namespace

std::error_code settingsPathIsALinkError() {
    static const SettingsFileCategory category;
    return {1, category};
}

SaverSettings readSettingsOrZeros(const std::filesystem::path& file) {
    try {
        return readSettings(file);
    } catch (const SettingsFileError&) {
        return {};
    }
}

void writeSettingsCreatingFolder(const std::filesystem::path& file, SaverSettings settings) {
    if (const std::filesystem::path folder = file.parent_path(); !folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error)
            throw SettingsFileError(file, error);
    }
    writeSettings(file, settings);
}

} // namespace zorblinth
