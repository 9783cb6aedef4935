#include "data/local/LocalTables.h"

#include <filesystem>
#include <system_error>

#include "data/storage/XbaseTable.h"
#include "data/values/FileNames.h"
#include "rtl/PathNames.h"
#include "rtl/Utf8Path.h"

void UpdateFileLog(TDbfTable& fileLog, const FileLogRow& row) {
    if (fileLog.Seek(row.fileName, true)) fileLog.Edit();
    else fileLog.Append();
    fileLog.WriteDate("DATE", row.date);
    fileLog.WriteText("FILENAME", row.fileName);
    fileLog.WriteText("FILCREATED", row.filCreated);
    fileLog.WriteText("COPIED", "YES");
    fileLog.Post();
}

void StampLastCopy(TDbfTable& settings, TDateTime today) {
    settings.Edit();
    settings.WriteDate("LASTCOPY", today);
    settings.Post();
}

UpLogRow MakeUpLogRow(std::string_view ftpHost, std::string_view uploadPath, long long transferred) {
    UpLogRow row;
    row.date = Today();
    row.hostName = std::string(ftpHost);
    row.fileName = NamePart(uploadPath);
    row.timeText = TimeToStr(Now());
    row.transferred = transferred;
    return row;
}

void WriteUpLogRow(TDbfTable& upLog, const UpLogRow& row) {
    FillUpLogRow(upLog, row);
    upLog.Post();
}

void FillUpLogRow(TDbfTable& upLog, const UpLogRow& row) {
    upLog.Insert();
    upLog.WriteDate("DATE", row.date);
    upLog.WriteText("HOSTNAME", row.hostName);
    upLog.WriteText("FILENAME", row.fileName);
    upLog.WriteText("DATETIME", row.timeText);
    upLog.WriteInteger("TRANSFERED", row.transferred);
    upLog.WriteText("UPLOADEDBY", row.uploadedBy);
}

std::string NamePart(std::string_view path) {
    std::size_t start = path.size();
    while (start > 0 && !IsNameSeparator(path[start - 1])) --start;
    return std::string(path.substr(start));
}

bool FileLogIndexExists(const std::string& programFolder) {
    return !FilesNamedIgnoringCase(PathFromUtf8(programFolder), kFileLogIndexName).empty();
}

void IndexFiles(TDbfTable& fileLog, const std::string& programFolder) {
    // The index to replace is the one beside the table, whatever the current
    // directory is and however its name is spelt.
    for (const auto& stale : FilesNamedIgnoringCase(PathFromUtf8(programFolder), kFileLogIndexName)) {
        std::error_code ignored;
        std::filesystem::remove(stale, ignored);
    }
    fileLog.Close();
    fileLog.SetDatabaseName(programFolder);
    // The tag is missing until it is built, so the table opens in record order.
    const std::string order = fileLog.IndexName();
    fileLog.SetIndexName("");
    fileLog.SetExclusive(true);
    try {
        fileLog.Open();
        fileLog.CreateIndexTag(kFileLogTag, "FILENAME", 0);
    } catch (...) {
        // Never leave the file log held exclusively after a failed rebuild.
        fileLog.Close();
        fileLog.SetExclusive(false);
        fileLog.SetIndexName(order);
        throw;
    }
    fileLog.Close();
    fileLog.SetExclusive(false);
    fileLog.SetIndexName(order);
    fileLog.Close();
}

bool RebuildFileLogIndexWhenDamaged(TDbfTable& fileLog, const std::string& programFolder) {
    const auto tables = FilesNamedIgnoringCase(PathFromUtf8(programFolder), kFileLogTableName);
    if (tables.empty() || !FileLogIndexExists(programFolder)) return false;
    const std::string damage = xbase::indexDamage(tables.front());
    if (damage.empty()) return false;
    IndexFiles(fileLog, programFolder);
    xbase::reportRecovery(std::string(kFileLogTableName) + ": its index could not be trusted and was rebuilt from the records (" +
                          damage + ")");
    return true;
}
