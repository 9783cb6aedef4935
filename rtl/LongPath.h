#pragma once
// Paths for the system's file calls at any length. Windows takes a path past
// 260 characters only in its long form ("\\?\C:\...", "\\?\UNC\server\share\...");
// a path in that form is taken as it stands, so the form is made from the
// full path: absolute, "/" as "\", "." and ".." resolved. On POSIX the path
// is returned as it is. One file per platform (LongPathPosix.cpp,
// LongPathWindows.cpp); every Windows file that names a file to the system
// passes the path through LongPathForm or LongPathFromUtf8.
#include <filesystem>
#include <string_view>

// The path in the form the system's file calls take at any length.
std::filesystem::path LongPathForm(const std::filesystem::path& path);
// The same for a path given as UTF-8 text.
std::filesystem::path LongPathFromUtf8(std::string_view utf8Path);
