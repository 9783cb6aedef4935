#pragma once
// File names are compared without regard to letter case, as on the
// platform the tables come from. Folders given as the program's UTF-8 text
// become paths through PathFromUtf8 (rtl/Utf8Path.h), never implicitly.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every plain file in `folder` whose name equals `name` ignoring case.
std::vector<std::filesystem::path> FilesNamedIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name);
// The exact path when it exists, else the first case variant, else the exact path.
std::filesystem::path ResolveIgnoringCase(const std::filesystem::path& folder, std::string_view name);
