#pragma once
// The three local tables of the program folder and their write sequences:
// the file-log update, the last-copy stamp, the upload-log row and the
// file-log index rebuild.
#include <string>
#include <string_view>

#include "data/table/DbfTable.h"
#include "data/values/DateTime.h"

inline constexpr const char* kSettingsTableName = "ZAVSYS.DBF";
inline constexpr const char* kFileLogTableName = "FILELOG.DBF";
inline constexpr const char* kUpLogTableName = "UPLOG.DBF";
inline constexpr const char* kFileLogIndexName = "FileLog.CDX";
inline constexpr const char* kFileLogTag = "FILENAME";

// One row of the transfer list as the file log stores it.
struct FileLogRow {
    TDateTime date = 0;        // DATE
    std::string fileName;      // FILENAME
    std::string filCreated;    // FILCREATED, as date text (MM/DD/yy)
};

// Finds the row's file by a hard seek, rewrites it or appends it, COPIED "YES".
void UpdateFileLog(TDbfTable& fileLog, const FileLogRow& row);

// LASTCOPY of the settings record := `today`.
void StampLastCopy(TDbfTable& settings, TDateTime today);
inline void StampLastCopy(TDbfTable& settings) { StampLastCopy(settings, Today()); }

struct UpLogRow {
    TDateTime date = 0;          // DATE
    std::string hostName;        // HOSTNAME
    std::string fileName;        // FILENAME: name part of the upload path
    std::string timeText;        // DATETIME: time of day, long time format
    long long transferred = 0;   // TRANSFERED
    std::string uploadedBy = "XXX";
};

// The audit row for this moment: today, the host, the name part of the
// path being uploaded, the time of day and the progress count.
UpLogRow MakeUpLogRow(std::string_view ftpHost, std::string_view uploadPath, long long transferred);
void WriteUpLogRow(TDbfTable& upLog, const UpLogRow& row);
// The same without its Post: the row is inserted and filled in, not stored.
void FillUpLogRow(TDbfTable& upLog, const UpLogRow& row);

// The text after the last separator of a path (IsNameSeparator): on POSIX
// after the last "/", so ":" and "\" stay part of the name.
std::string NamePart(std::string_view path);

// Whether the program folder holds FileLog.CDX (any letter case).
bool FileLogIndexExists(const std::string& programFolder);

// Rebuilds the file-log index: deletes FileLog.CDX (any letter case) in the
// program folder, opens the file log exclusively and creates the tag
// FILENAME over every record; the file log is left closed and shared.
void IndexFiles(TDbfTable& fileLog, const std::string& programFolder);

// Rebuilds the file-log index as IndexFiles does when it is there but cannot
// be trusted (damaged, or plainly not the index of these records: see
// xbase::indexDamage), and says so through the storage engine's recovery
// reporter (standard error unless one is set). True when it rebuilt it.
bool RebuildFileLogIndexWhenDamaged(TDbfTable& fileLog, const std::string& programFolder);
