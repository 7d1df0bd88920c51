#pragma once

#include <filesystem>

namespace zorblinth::posix {

// The folder of the program's settings: $XDG_CONFIG_HOME/zorblinth, or ~/.config/zorblinth when
// that is unset, empty or relative (a relative one is invalid and ignored). The program's own
// folder is not writable on an installed system.
std::filesystem::path settingsFolder(const char* configHome, const std::filesystem::path& home);

// This user's home folder: $HOME, or the password database's when that is unset or empty.
std::filesystem::path homeFolder();

// The settings file for this user, from the environment.
std::filesystem::path userSettingsFile();

} // namespace zorblinth::posix
