#include "upload/LoginFileAccess.h"

#include <filesystem>

bool RegularFileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

LoginFileHandle OpenForReading(const std::string& path) { return LoginFileHandle(std::fopen(path.c_str(), "rb")); }
