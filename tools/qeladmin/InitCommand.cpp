// qeladmin init DIR: writes the three empty local tables and the file-log
// index into a program folder, each table with its journal beside it; in a
// folder shared by its group (group-writable) the group may write them too.
// qeladmin init --journals DIR: makes the journal of each table there that
// has none (an install that keeps the tables it finds): in a folder where
// the program cannot make files, a table without one still works, but each
// update costs more syncs.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "data/local/LocalTables.h"
#include "data/storage/Journal.h"
#include "data/storage/XbaseTable.h"
#include "data/table/DbfTable.h"
#include "data/values/FileNames.h"
#include "rtl/Utf8Path.h"
#include "tools/qeladmin/Commands.h"
#include "tools/qeladmin/Options.h"
#include "upload/FolderOwnership.h"

namespace {

struct TableLayout {
    const char* fileName;
    std::vector<xbase::FieldInfo> fields;
};

xbase::FieldInfo Field(const char* name, char type, uint16_t width, uint8_t decimals = 0) {
    xbase::FieldInfo f;
    f.name = name;
    f.type = type;
    f.width = width;
    f.decimals = decimals;
    return f;
}

// Widths hold every value the program writes: the file log's FILENAME a
// whole extract name of up to 100 characters (the scan leaves out a longer
// one: a cut name would never match its record), PMS "Corvane Ledger", full
// folder paths, host names. The upload log's FILENAME keeps its 25: an audit
// row's text is cut to its field.
std::vector<TableLayout> Layouts() {
    return {
        {kSettingsTableName,
         {Field("LOCCODE", 'C', 10), Field("PROPCODE", 'C', 10), Field("PMS", 'C', 20), Field("LASTCOPY", 'D', 8),
          Field("COPYFROM", 'C', 254), Field("COPYTO", 'C', 254)}},
        {kFileLogTableName,
         {Field("DATE", 'D', 8), Field("FILENAME", 'C', 100), Field("FILCREATED", 'D', 8), Field("COPIED", 'C', 3)}},
        {kUpLogTableName,
         {Field("DATE", 'D', 8), Field("HOSTNAME", 'C', 60), Field("FILENAME", 'C', 25), Field("DATETIME", 'C', 12),
          Field("TRANSFERED", 'N', 10), Field("UPLOADEDBY", 'C', 3)}},
    };
}

// The journal as writable as its table: a folder of tables made writable
// for the program's users needs no more.
void MatchTablePermissions(const std::filesystem::path& table) {
    std::error_code ec;
    const auto mode = std::filesystem::status(table, ec).permissions();
    if (!ec) std::filesystem::permissions(xbase::Journal::pathFor(table), mode, ec);
}

int MakeMissingJournals(const std::filesystem::path& folder) {
    int made = 0;
    for (const TableLayout& t : Layouts())
        for (const auto& table : FilesNamedIgnoringCase(folder, t.fileName)) {
            const auto journal = xbase::Journal::pathFor(table);
            std::error_code ec;
            if (std::filesystem::exists(journal, ec)) continue;
            xbase::Journal::createEmpty(journal);
            MatchTablePermissions(table);
            std::printf("created %s\n", Utf8FromPath(journal).c_str());
            ++made;
        }
    if (made == 0) std::printf("every table in %s has its journal\n", Utf8FromPath(folder).c_str());
    return 0;
}

}  // namespace

int RunInit(const Args& args) {
    // Judged before anything is made: a word such as "--help" never becomes a folder.
    const ParsedArgs parsed = ParseArgs(args, {{"journals", false}}, 1, 1);
    if (parsed.Has("journals")) return MakeMissingJournals(PathFromUtf8(parsed.Positional[0]));
    const std::string& dir = parsed.Positional[0];
    const std::filesystem::path folder = PathFromUtf8(dir);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "qeladmin init: %s is not a folder\n", dir.c_str());
        return 1;
    }
    const auto layouts = Layouts();
    std::vector<std::string> existing;
    for (const TableLayout& t : layouts)
        for (const auto& p : FilesNamedIgnoringCase(folder, t.fileName)) existing.push_back(Utf8FromPath(p));
    for (const auto& p : FilesNamedIgnoringCase(folder, kFileLogIndexName)) existing.push_back(Utf8FromPath(p));
    if (!existing.empty()) {
        for (const auto& p : existing) std::fprintf(stderr, "qeladmin init: %s already exists; nothing written\n", p.c_str());
        return 1;
    }

    for (const TableLayout& t : layouts) {
        xbase::XbaseTable::create(folder / t.fileName, t.fields);   // with its journal
        ShareWithFolderGroup(dir, Utf8FromPath(folder / t.fileName));
        MatchTablePermissions(folder / t.fileName);
    }

    TDbfTable fileLog("DbfFileLog");
    fileLog.SetTableName(kFileLogTableName);
    IndexFiles(fileLog, Utf8FromPath(folder));
    // Installed program folders spell the index this way.
    // Through a passing name: a file system that ignores letter case may
    // take a rename to the same name in other letters for no change at all.
    for (const auto& index : FilesNamedIgnoringCase(folder, kFileLogIndexName)) {
        if (index.filename() == kFileLogIndexName) continue;
        const auto passing = folder / (std::string(kFileLogIndexName) + ".renaming");
        std::filesystem::rename(index, passing);
        std::filesystem::rename(passing, folder / kFileLogIndexName);
    }
    for (const auto& index : FilesNamedIgnoringCase(folder, kFileLogIndexName))
        ShareWithFolderGroup(dir, Utf8FromPath(index));

    std::printf("created %s, %s, %s and %s in %s\n", kSettingsTableName, kFileLogTableName, kUpLogTableName,
                kFileLogIndexName, dir.c_str());
    return 0;
}
