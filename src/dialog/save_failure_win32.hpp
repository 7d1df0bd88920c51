#pragma once

#include <windows.h>

#include "settings/settings.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace zorblinth::win32 {

// The window system's own wording for an error code, in the user's language; empty when it
// has none.
std::wstring systemMessage(DWORD error);

// The run-time library's reason text: UTF-8 where it is valid, the ANSI code page otherwise.
std::wstring widenedReason(const std::string& reason);

// The reason to show for a failed save: the system's message for the failure's own error code
// when it is a Windows code, the library's own text when it is one of the program's own (a link
// in the file's place), else the system's message for the error the run-time library met
// (osError, its _doserrno; 0 when it met none), else for opening the file, else the library's
// own text.
std::wstring saveFailureReason(const SettingsFileError& failure, DWORD osError);

// The message box text: the heading, the file and the reason, composed as on every platform.
std::wstring saveFailureText(const std::filesystem::path& file, std::wstring_view reason);

// The message box text for a failed save, worded by saveFailureReason.
std::wstring saveFailureText(const SettingsFileError& failure, DWORD osError);

} // namespace zorblinth::win32
