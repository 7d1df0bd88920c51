#include "settings/settings_location_linux.hpp"

#include "settings/settings.hpp"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace zorblinth::posix {

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    // Services and some session managers start programs without HOME.
    if (const passwd* user = getpwuid(getuid()); user && user->pw_dir)
        return user->pw_dir;
    return "/";
}

std::filesystem::path settingsFolder(const char* configHome, const std::filesystem::path& home) {
    if (configHome && *configHome == '/')
        return std::filesystem::path(configHome) / "zorblinth";
    return home / ".config" / "zorblinth";
}

std::filesystem::path userSettingsFile() {
    return settingsFilePath(settingsFolder(std::getenv("XDG_CONFIG_HOME"), homeFolder()));
}

} // namespace zorblinth::posix
