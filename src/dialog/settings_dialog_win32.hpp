#pragma once

#include <windows.h>

#include <filesystem>

namespace zorblinth {

// Shows the settings dialog modally and returns the program's exit status once it closes:
// 0 when closed by either button or the close box, 1 when the settings could not be saved
// (after telling the user why).
int runSettingsDialog(HINSTANCE instance, const std::filesystem::path& settingsFile);

} // namespace zorblinth
