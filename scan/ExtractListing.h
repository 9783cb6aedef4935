#pragma once
// The extract files of a folder: plain files whose names match "*.xml",
// letter case ignored. Hidden files (names beginning with ".") and
// sub-folders are left out. Sorted by name so every run lists the same order.
#include <string>
#include <vector>

#include "data/DateTime.h"

struct ExtractFile {
    std::string Name;        // without folder
    TDateTime Modified = 0;  // last modification, local time
};

bool DirectoryExists(const std::string& path);   // false for an empty path
std::vector<ExtractFile> ListExtractFiles(const std::string& folder);
