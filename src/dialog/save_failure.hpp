#pragma once

#include "settings/settings.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

namespace zorblinth::dialog {

// The system's own wording for an error code, in the user's language; empty when it has none.
// Each front end supplies it: the text lives in the window system or the C library.
using SystemWording = std::function<std::u16string(const std::error_code&)>;

// The message box text when "設定" cannot write the file: the heading, an empty line, the file,
// and the reason on the line below it.
std::u16string saveFailureMessage(const std::filesystem::path& file, std::u16string_view reason);

// The same for a failed save: the reason is the system's wording for the failure's error code,
// or the library's own text where the system has none (or there is no code).
std::u16string saveFailureMessage(const SettingsFileError& failure,
                                  const SystemWording& systemWording);

// A path as the user reads it: Windows' UTF-16 names as they are, POSIX names as UTF-8 with
// U+FFFD for each byte that is not.
std::u16string displayedPath(const std::filesystem::path& file);

// UTF-8 text as UTF-16, U+FFFD for each byte that does not belong to a valid sequence.
std::u16string utf16FromUtf8(std::string_view text);

} // namespace zorblinth::dialog
