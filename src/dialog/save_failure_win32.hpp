#pragma once

#include <windows.h>

#include "settings/settings.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace zorblinth::dialog {

// The window system's own wording for an error code, in the user's language; empty when it
// has none.
std::wstring systemMessage(DWORD error);

// The run-time library's reason text: UTF-8 where it is valid, the ANSI code page otherwise.
std::wstring widenedReason(const std::string& reason);

// The reason to show for a failed save: the system's message for the error the run-time library
// met (osError, 0 when it met none), else the system's message for opening the file, else the
// library's own text.
std::wstring saveFailureReason(const SettingsFileError& failure, DWORD osError);

// The message box text: the heading, the file and the reason.
std::wstring saveFailureText(const std::filesystem::path& file, std::wstring_view reason);

} // namespace zorblinth::dialog
