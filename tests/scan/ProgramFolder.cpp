#include "ProgramFolder.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "ProgramFolderSystem.h"
#include "data/table/DbfTable.h"
#include "rtl/Utf8Path.h"

namespace qztest {

ProgramFolder::ProgramFolder() : root_(MakeTempRoot()) {
    std::filesystem::create_directories(root_ / "extracts");
    RunQelAdminInit(root_ / "program");
}

ProgramFolder::~ProgramFolder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void ProgramFolder::WriteSettings(const SettingsRecord& r) {
    TDbfTable table("Settings");
    table.SetTableName("ZAVSYS.DBF");
    table.SetDatabaseName(Path());
    table.Open();
    table.Append();
    table.WriteText("LOCCODE", r.LocCode);
    table.WriteText("PROPCODE", r.PropCode);
    table.WriteText("PMS", r.Pms);
    if (!r.LastCopy.empty()) table.WriteDate("LASTCOPY", StrToDate(r.LastCopy));
    table.WriteText("COPYFROM", r.CopyFrom);
    table.WriteText("COPYTO", r.CopyTo);
    table.Post();
    table.Close();
}

void ProgramFolder::AddFileLog(const std::string& fileName, TDateTime date) {
    TDbfTable table("FileLog");
    table.SetTableName("FILELOG.DBF");
    table.SetDatabaseName(Path());
    table.SetIndexName("FILENAME");
    table.Open();
    table.Append();
    table.WriteDate("DATE", date);
    table.WriteText("FILENAME", fileName);
    table.WriteDate("FILCREATED", date);
    table.WriteText("COPIED", "YES");
    table.Post();
    table.Close();
}

void ProgramFolder::AddExtract(const std::string& name, TDateTime modified) const {
    // Names are UTF-8, as the program holds them.
    const std::filesystem::path file = PathFromUtf8(SourcePath()) / PathFromUtf8(name);
    std::ofstream(file) << "<extract/>\n";
    SetModified(file, modified);
}

std::string ProgramFolder::ReadSetting(const std::string& field) const {
    TDbfTable table("Settings");
    table.SetTableName("ZAVSYS.DBF");
    table.SetDatabaseName(Path());
    table.Open();
    return table.ReadText(field);
}

bool ProgramFolder::HasSettingsRecord() const {
    TDbfTable table("Settings");
    table.SetTableName("ZAVSYS.DBF");
    table.SetDatabaseName(Path());
    table.Open();
    return table.HasCurrentRecord();
}

void SetModified(const std::filesystem::path& file, TDateTime modified) {
    int year = 0, month = 0, day = 0;
    DecodeDate(modified, year, month, day);
    const double fraction = modified - std::floor(modified);
    const long seconds = std::lround(fraction * 86400.0);
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = static_cast<int>(seconds / 3600);
    tm.tm_min = static_cast<int>(seconds / 60 % 60);
    tm.tm_sec = static_cast<int>(seconds % 60);
    tm.tm_isdst = -1;
    const std::time_t when = std::mktime(&tm);
    SetFileModified(file, when);
}

void ProgramFolder::OpenTables(TDbfTable& settings, TDbfTable& fileLog) const {
    settings.SetTableName("ZAVSYS.DBF");
    settings.SetDatabaseName(Path());
    settings.Open();
    fileLog.SetTableName("FILELOG.DBF");
    fileLog.SetDatabaseName(Path());
    fileLog.SetIndexName("FILENAME");
    fileLog.Open();
}

}  // namespace qztest
