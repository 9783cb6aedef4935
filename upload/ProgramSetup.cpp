#include "upload/ProgramSetup.h"

#include <filesystem>

#include "data/local/LocalTables.h"
#include "data/table/DbfTable.h"
#include "ftp/commands/NetFTP.h"
#include "rtl/Utf8Path.h"
#include "scan/ExtractListing.h"
#include "scan/ExtractScan.h"

void NameProgramTables(TProgramTables tables) {
    for (TDbfTable* table : {&tables.Settings, &tables.FileLog, &tables.UpLog}) table->SetTableType(TTableType::ttCDX);
    tables.Settings.SetTableName(kSettingsTableName);
    tables.FileLog.SetTableName(kFileLogTableName);
    tables.UpLog.SetTableName(kUpLogTableName);
}

void SetUpUploadClient(TNetFTP& ftp) {
    ftp.SetPassive(true);
    ftp.SetReadTimeout(100000);
}

void OpenProgramTables(const std::string& programFolder, TProgramTables tables, TStartValues values) {
    tables.Settings.Close();
    // Absolute before any scan changes the current directory: the login
    // file is read from it later.
    values.ProgramFolder = Utf8FromPath(programFolder.empty() ? std::filesystem::current_path()
                                                              : std::filesystem::absolute(PathFromUtf8(programFolder)));
    if (values.ProgramFolder.back() != '/' && values.ProgramFolder.back() != '\\') values.ProgramFolder += '/';
    tables.Settings.SetDatabaseName(values.ProgramFolder);
    tables.Settings.Open();
    values.LocationCode = tables.Settings.ReadText("LOCCODE");
    if (!FileLogIndexExists(values.ProgramFolder)) IndexFiles(tables.FileLog, values.ProgramFolder);
    else RebuildFileLogIndexWhenDamaged(tables.FileLog, values.ProgramFolder);
    tables.FileLog.Close();
    tables.FileLog.SetDatabaseName(values.ProgramFolder);
    tables.FileLog.SetIndexName(kFileLogTag);
    tables.FileLog.Open();
    tables.UpLog.Close();
    tables.UpLog.SetDatabaseName(values.ProgramFolder);
    tables.UpLog.Open();
    values.SourceFolder = AbsoluteSourceFolder(values.ProgramFolder, tables.Settings.ReadText("COPYFROM"));
}

bool StartUpScans(TDbfTable& settings, const std::string& sourceFolder) {
    return DirectoryExists(sourceFolder) && !settings.ReadText("LOCCODE").empty();
}
