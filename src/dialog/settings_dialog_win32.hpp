#pragma once

#include <windows.h>

#include "dialog/dialog_model.hpp"

#include <filesystem>

namespace zorblinth::win32 {

// Shows the settings dialog modally and says how it closed: by either button or the close box,
// or after "設定" could not write the settings file (and the user was told why).
dialog::DialogOutcome runSettingsDialog(HINSTANCE instance,
                                        const std::filesystem::path& settingsFile);

} // namespace zorblinth::win32
