#include "upload/LoginFileAccess.h"

#include <filesystem>

#include "rtl/Utf8Path.h"
#include "rtl/WindowsText.h"

// The path is UTF-8; the narrow C and C++ calls would read it in the ANSI
// code page, so the wide ones are used.
bool RegularFileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(PathFromUtf8(path), ec);
}

LoginFileHandle OpenForReading(const std::string& path) {
    return LoginFileHandle(::_wfopen(qz::win::WideFromUtf8(path).c_str(), L"rb"));
}
