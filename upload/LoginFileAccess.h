#pragma once
// The system calls the login file needs, one file per system
// (LoginFileAccessPosix.cpp, LoginFileAccessWindows.cpp). Paths are UTF-8.
#include <cstdio>
#include <memory>
#include <string>

struct LoginFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using LoginFileHandle = std::unique_ptr<std::FILE, LoginFileCloser>;

// True when an entry other than a folder has that name. A FIFO, a device or
// a link counts, so that the read refuses it by name ("not a regular file")
// instead of the run saying there is no login file.
bool RegularFileExists(const std::string& path);
// Opens for binary reading; null with errno set when it cannot. Never waits
// and never follows a link (ELOOP); an entry that is not a regular file gives
// errno kNotARegularFile.
LoginFileHandle OpenForReading(const std::string& path);
inline constexpr int kNotARegularFile = -2;
