#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zorblinth::idle {

// The XDG autostart entry that starts the watcher at login:
// $XDG_CONFIG_HOME/autostart/zorblinth-idle.desktop, or ~/.config/autostart/ when that is unset,
// empty or relative.
std::filesystem::path autostartEntry(const char* configHome, const std::filesystem::path& home);

// The entry's text: program (an absolute path) with arguments on its Exec line, quoted as
// desktop entries want.
std::string autostartEntryText(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments);

// Writes the entry whole or not at all (a temporary file beside it, then renamed over it), so
// a session that logs in meanwhile reads the old entry or the new one. False with why said when
// it could not.
bool writeAutostartEntry(const std::filesystem::path& entry, std::string_view text,
                         std::string& why);

} // namespace zorblinth::idle
