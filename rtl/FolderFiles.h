#pragma once
// The names of the regular files in a folder, one file per platform
// (FolderFilesPosix.cpp, FolderFilesWindows.cpp). The Windows one lists with
// the folder's long path form: the C runtime's folder listing there cuts a
// path past 260 characters and lists another folder instead.
#include <filesystem>
#include <vector>

// Names only (no folder); nothing when the folder cannot be read. An empty
// folder path is the current directory.
std::vector<std::filesystem::path> RegularFileNames(const std::filesystem::path& folder);
