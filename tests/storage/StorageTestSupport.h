#pragma once
// Helpers shared by the storage engine tests: scratch folders, the file-log
// layout, record images, and running the independent readers.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "data/storage/JournalFormat.h"
#include "data/storage/XbaseTable.h"

namespace storage_test {

// A fresh folder under the build's temporary area, removed at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Switches fsync off while it lives, for tests that build large sample
// tables and are not about durability (the crash test keeps it on).
class SyncOff {
public:
    SyncOff();
    ~SyncOff();
};

// DATE D8, FILENAME C25, FILCREATED D8, COPIED C3.
std::vector<xbase::FieldInfo> fileLogFields();
// A FILELOG.DBF with its FILENAME tag in `dir`.
std::filesystem::path makeFileLog(const std::filesystem::path& dir, const std::string& name = "FILELOG.DBF");
std::vector<uint8_t> fileLogRecord(const xbase::XbaseTable& table, const std::string& fileName,
                                   const std::string& date = "20240315", const std::string& copied = "YES");
std::string fieldText(const xbase::XbaseTable& table, const std::vector<uint8_t>& image, const std::string& field);

std::vector<uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

int currentProcessId();

// The error code `action` raised (its message into `message`), kOk when none.
int codeOf(const std::function<void()>& action, std::string* message = nullptr);

// What another program sees at `offset` of the file: 1 when its exclusive
// lock on that byte is refused (someone holds it), 0 when it is had; a
// classic POSIX-lock user on POSIX (asked from a child process), a
// LockFileEx user on Windows.
int lockSeenByOthers(const std::filesystem::path& path, uint64_t offset);

// Runs `child` in a forked process that ends with `_exit` as soon as it
// returns (tables it opened are never closed, as in a killed process);
// returns its exit status, 98 when it threw.
int inChild(const std::function<int()>& child);

struct CommandResult {
    int exitCode = -1;
    std::string output;
};
CommandResult run(const std::string& command);
std::string quote(const std::filesystem::path& path);
// tests/tools/xbase-dump, checking one tag (or the table when tag is empty).
CommandResult xbaseDump(const std::filesystem::path& dbf, const std::string& tag = {});
// python3-dbf, another program that knows neither our journal nor our locks:
// appends a file-log record, and reads every record's FILENAME (throws when
// it cannot read the table).
void pythonAppend(const std::filesystem::path& dbf, const std::string& fileName);
std::vector<std::string> pythonFileNames(const std::filesystem::path& dbf);

// The journal as stored: its generation and the records it holds, with
// where each one starts.
struct JournalSeen {
    uint64_t generation = 0;
    std::vector<std::pair<uint64_t, xbase::JournalRecordHeader>> records;
};
JournalSeen journalOf(const std::filesystem::path& dbf);
// Rewrites record headers in place, as `change` edits them.
void editRecords(const std::filesystem::path& dbf, const std::function<void(xbase::JournalRecordHeader&)>& change);
// As if the machine had restarted since the records were written.
void pretendRestart(const std::filesystem::path& dbf);

}  // namespace storage_test
