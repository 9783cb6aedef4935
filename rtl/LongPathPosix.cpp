#include "rtl/LongPath.h"

#include "rtl/Utf8Path.h"

// POSIX has no short limit on a path the calls take.
std::filesystem::path LongPathForm(const std::filesystem::path& path) { return path; }
std::filesystem::path LongPathFromUtf8(std::string_view utf8Path) { return PathFromUtf8(utf8Path); }
