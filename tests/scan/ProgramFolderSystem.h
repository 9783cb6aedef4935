#pragma once
// The system calls the scratch program folder needs, one file per system
// (ProgramFolderPosix.cpp, ProgramFolderWindows.cpp).
#include <ctime>
#include <filesystem>

namespace qztest {

std::filesystem::path MakeTempRoot();
// Runs the qeladmin under test: `qeladmin init <folder>`; throws when it fails.
void RunQelAdminInit(const std::filesystem::path& folder);
void SetFileModified(const std::filesystem::path& file, std::time_t when);

}  // namespace qztest
