#pragma once

#include <windows.h>

#include "startup/exit_status.hpp"

#include <filesystem>

namespace zorblinth {

// Shows the settings dialog modally and returns the program's exit status once it closes:
// normalEnd when closed by either button or the close box, settingsNotSaved when the settings
// could not be written (after telling the user why).
ExitStatus runSettingsDialog(HINSTANCE instance, const std::filesystem::path& settingsFile);

} // namespace zorblinth
