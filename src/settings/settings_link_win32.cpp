#include "settings/settings_link.hpp"

#include <windows.h>

namespace zorblinth {

namespace {

// A search handle, closed with its owner.
class FileSearch {
public:
    FileSearch(const std::filesystem::path& path, WIN32_FIND_DATAW& found)
        : handle_(FindFirstFileW(path.c_str(), &found)) {}
    ~FileSearch() {
        if (handle_ != INVALID_HANDLE_VALUE)
            FindClose(handle_);
    }
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

} // namespace

bool isALinkInPlace(const std::filesystem::path& path) {
    // The attributes of the link itself: Windows does not follow a reparse point here.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    // A reparse point that is no name surrogate holds the file itself (a cloud file's
    // placeholder, a deduplicated file) and is written like any other. Symbolic links and
    // junctions are surrogates; one whose tag cannot be had (Wine gives none for a Unix link
    // to a folder) is taken for a link.
    WIN32_FIND_DATAW found{};
    const FileSearch search(path, found);
    return !search || found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0);
}

} // namespace zorblinth
