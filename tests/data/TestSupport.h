#pragma once
// Scratch folders, small tables and child commands for the data tests.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "data/storage/XbaseTable.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

xbase::FieldInfo Field(const char* name, char type, uint16_t width, uint8_t decimals = 0);

// The file log as program folders made before FILENAME was widened hold it
// (FILENAME 25; qeladmin init now makes it 100), and the other tables as
// qeladmin init lays them out.
std::vector<xbase::FieldInfo> FileLogFields();
std::vector<xbase::FieldInfo> SettingsFields();
std::vector<xbase::FieldInfo> UpLogFields();

struct CommandResult {
    int exitCode = -1;
    std::string output;   // stdout and stderr together
};
CommandResult RunCommand(const std::string& command);
// Runs `child` in another process (POSIX: fork, ended with _exit as soon as
// it returns) or, on Windows, on a thread with table handles of its own, which
// meet ours as another process's would; its result, 98 when it threw.
int InChild(const std::function<int()>& child);
std::string Quote(const std::string& text);   // for the shell

std::string SourceDir();
std::string XbaseDump();   // the Perl checker

std::vector<uint8_t> RawRecord(const std::filesystem::path& dbf, uint32_t recno);
uint32_t RecordCount(const std::filesystem::path& dbf);

// Makes `folder` the current directory until destroyed.
class CurrentDir {
public:
    explicit CurrentDir(const std::filesystem::path& folder);
    ~CurrentDir();

private:
    std::filesystem::path previous_;
};

}  // namespace testsupport
