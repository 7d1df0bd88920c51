#pragma once

#include <filesystem>

namespace zorblinth {

// Whether a link of the file system stands at the path itself, not followed: a symbolic link,
// or on Windows a junction or another reparse point that names somewhere else. Asked of the
// platform (settings_link_win32.cpp): the standard library tells no junction, and under MinGW
// no symbolic link either.
bool isALinkInPlace(const std::filesystem::path& path);

} // namespace zorblinth
