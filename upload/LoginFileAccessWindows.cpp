#include "upload/LoginFileAccess.h"

#include <windows.h>

#include "rtl/LongPath.h"

// The path is UTF-8; the narrow C and C++ calls would read it in the ANSI
// code page, so the wide ones are used, with the long form of the path.
bool RegularFileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(LongPathFromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

LoginFileHandle OpenForReading(const std::string& path) {
    return LoginFileHandle(::_wfopen(LongPathFromUtf8(path).c_str(), L"rb"));
}
