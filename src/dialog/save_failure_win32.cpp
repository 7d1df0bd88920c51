#include "dialog/save_failure_win32.hpp"

#include "dialog/save_failure.hpp"

namespace zorblinth::win32 {

using dialog::saveFailureMessage;

// The window system's own wording for an error code, in the user's language; empty when it
// has none.
std::wstring systemMessage(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring message(buffer != nullptr ? buffer : L"", length);
    LocalFree(buffer);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

// The run-time library's reason text: UTF-8 where it is valid, the ANSI code page otherwise.
std::wstring widenedReason(const std::string& reason) {
    if (reason.empty())
        return {};
    const int size = static_cast<int>(reason.size());
    UINT codePage = CP_UTF8;
    int length =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, reason.data(), size, nullptr, 0);
    if (length == 0) {
        codePage = CP_ACP;
        length = MultiByteToWideChar(codePage, 0, reason.data(), size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, reason.data(), size, wide.data(), length);
    return wide;
}

namespace {

// Why the system refuses to open an existing file for writing (a folder in its place, a lock,
// no permission); 0 when it opens or is simply absent. Opening it changes nothing.
DWORD refusalToOpen(const std::filesystem::path& file) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return 0;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
}

std::wstring fromUtf16(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string toUtf16(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

} // namespace

std::wstring saveFailureReason(const SettingsFileError& failure, DWORD osError) {
    if (const std::error_code& code = failure.code();
        code.value() != 0 && code.category() == std::system_category()) {
        if (std::wstring message = systemMessage(static_cast<DWORD>(code.value()));
            !message.empty())
            return message;
    }
    // A refusal of the program's own (a link in the file's place) says why better than
    // anything the system met on the way or would meet opening the file.
    if (const std::error_code& code = failure.code(); code.value() != 0 &&
                                                      code.category() != std::system_category() &&
                                                      code.category() != std::generic_category())
        return widenedReason(failure.reason());
    if (osError == 0)
        osError = refusalToOpen(failure.path());
    if (osError != 0) {
        if (std::wstring message = systemMessage(osError); !message.empty())
            return message;
    }
    return widenedReason(failure.reason());
}

std::wstring saveFailureText(const std::filesystem::path& file, std::wstring_view reason) {
    return fromUtf16(saveFailureMessage(file, toUtf16(reason)));
}

std::wstring saveFailureText(const SettingsFileError& failure, DWORD osError) {
    return fromUtf16(saveFailureMessage(failure, [&](const std::error_code&) {
        return toUtf16(saveFailureReason(failure, osError));
    }));
}

} // namespace zorblinth::win32
