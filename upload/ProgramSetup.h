#pragma once
// What the window sets up before its Upload can run, for the window and for
// `qeladmin upload` alike: the three tables of the program folder opened
// shared, the file-log index rebuilt when it is missing or damaged, the working values
// read from the settings record, and the FTP client's settings. No window
// code here: the first-run prompt and the "Invalid Directory!" page stay
// with the window.
#include <string>

class TDbfTable;
class TNetFTP;

struct TProgramTables {
    TDbfTable& Settings;   // DbfZAVSys: ZAVSYS.DBF
    TDbfTable& FileLog;    // DbfFileLog: FILELOG.DBF with FileLog.CDX
    TDbfTable& UpLog;      // DbfUpLog: UPLOG.DBF
};

// The working values start-up sets. References: their owner keeps them.
struct TStartValues {
    std::string& ProgramFolder;
    std::string& LocationCode;
    std::string& SourceFolder;
};

// Table type and file names; the tables stay closed.
void NameProgramTables(TProgramTables tables);

// Passive mode and 100 seconds per reply, on the default port 21.
void SetUpUploadClient(TNetFTP& ftp);

// The start-up steps up to the first-run prompt, in their order: the
// settings table opened in `programFolder` (a trailing separator added),
// LocationCode from LOCCODE, the file-log index rebuilt when missing (or
// damaged, which is reported: RebuildFileLogIndexWhenDamaged), the
// file log opened on its FILENAME tag, the upload log opened, SourceFolder
// from COPYFROM. A table error leaves as an exception, with the values set
// before it kept.
void OpenProgramTables(const std::string& programFolder, TProgramTables tables, TStartValues values);

// Whether start-up runs the scan: the source folder exists and LOCCODE,
// read again, is set.
bool StartUpScans(TDbfTable& settings, const std::string& sourceFolder);
