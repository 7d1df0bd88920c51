#pragma once

#include "startup/exit_status.hpp"

#include <filesystem>

namespace zorblinth::qt {

// Shows the settings dialog until it closes. "設定" writes the file (creating its folder) and
// returns normalEnd, or tells the user why it could not and returns settingsNotSaved; the
// cancel button and the close box return normalEnd and write nothing.
ExitStatus runSettingsDialog(int& argc, char** argv, const std::filesystem::path& settingsFile);

} // namespace zorblinth::qt
