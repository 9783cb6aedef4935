#pragma once
// A scratch program folder made by `qeladmin init`, with helpers to fill the
// settings record and the file log, and a source folder of extract files.
#include <filesystem>
#include <string>

#include "data/values/DateTime.h"

class TDbfTable;

namespace qztest {

struct SettingsRecord {
    std::string LocCode, PropCode, Pms, LastCopy, CopyFrom, CopyTo;   // LastCopy as MM/DD/yy text or ""
};

class ProgramFolder {
public:
    ProgramFolder();
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    // The program folder, with its trailing separator.
    std::string Path() const { return (root_ / "program").string() + "/"; }
    // A source folder for extract files (created), with its trailing separator.
    std::string SourcePath() const { return (root_ / "extracts").string() + "/"; }
    const std::filesystem::path& Root() const { return root_; }

    void WriteSettings(const SettingsRecord& record);
    void AddFileLog(const std::string& fileName, TDateTime date);
    // An extract file modified at `modified` (local time).
    void AddExtract(const std::string& name, TDateTime modified) const;

    // Reads a settings field back through a fresh table object.
    std::string ReadSetting(const std::string& field) const;
    bool HasSettingsRecord() const;
    // Opens the settings table and the file log (by FILENAME) in this folder,
    // as the program's start-up does.
    void OpenTables(TDbfTable& settings, TDbfTable& fileLog) const;

private:
    std::filesystem::path root_;
};

// Sets a file's modification time to `modified` (local time).
void SetModified(const std::filesystem::path& file, TDateTime modified);

}  // namespace qztest
