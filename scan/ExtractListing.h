#pragma once
// The extract files of a folder: plain files whose names match "*.xml",
// letter case ignored. Hidden files (names beginning with "."), sub-folders,
// symbolic links (whatever they point at), FIFOs, devices and sockets are
// left out. Sorted by name so every run lists the same order. This file's
// .cpp is the POSIX one; a Windows build supplies its own.
#include <string>
#include <vector>

#include "data/values/DateTime.h"

struct ExtractFile {
    std::string Name;        // without folder
    TDateTime Modified = 0;  // last modification, local time
};

bool DirectoryExists(const std::string& path);   // false for an empty path
std::vector<ExtractFile> ListExtractFiles(const std::string& folder);
