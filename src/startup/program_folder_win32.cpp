#include "startup/program_folder_win32.hpp"

#include <windows.h>

#include <string>

namespace zorblinth::win32 {

std::filesystem::path programFolder() {
    // GetModuleFileNameW truncates silently when the buffer is short, so grow until it fits.
    std::wstring file(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
        if (length == 0)
            return {};
        if (length < file.size()) {
            file.resize(length);
            return std::filesystem::path(file).parent_path();
        }
        file.resize(file.size() * 2);
    }
}

} // namespace zorblinth::win32
