#pragma once

#include <filesystem>

namespace zorblinth::win32 {

// The folder that holds the running program's file, however long its path.
std::filesystem::path programFolder();

} // namespace zorblinth::win32
