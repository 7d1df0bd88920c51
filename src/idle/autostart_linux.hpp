#pragma once

#include <filesystem>
#include <optional>
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

// The command line an entry's text runs: its Exec value unquoted into the program and its
// arguments (field codes such as %f dropped). None when the entry has no Exec in its
// [Desktop Entry] group, or is turned off there (Hidden=true, X-GNOME-Autostart-enabled=false).
std::optional<std::vector<std::string>> autostartCommandOf(std::string_view text);

// The same for the entry's file; none also when it is missing, not a regular file, or too big
// to be one of ours.
std::optional<std::vector<std::string>> readAutostartCommand(const std::filesystem::path& entry);

} // namespace zorblinth::idle
