#pragma once
// What an open table holds: its files, the parsed header, the tags of its
// structural index, and the share mode. Shared by the table object and the
// cursors it hands out, so a cursor never outlives the files it reads.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/storage/CdxHeader.h"
#include "data/storage/CdxNode.h"
#include "data/storage/DbfHeader.h"
#include "data/storage/FileLocks.h"
#include "data/storage/Journal.h"
#include "data/storage/KeyExpression.h"
#include "data/storage/PageStore.h"
#include "data/storage/OsFile.h"
#include "data/storage/XbaseTable.h"
#include "rtl/Utf8Path.h"

namespace xbase {

struct TagInfo {
    std::string name;            // upper case, no padding
    uint32_t headerOffset = 0;
    CdxHeader header;
    KeyExpression expression;
    CdxKeyFormat format;
    std::string writeProblem;    // why writes are refused (empty when fine)
};

struct TableState {
    std::filesystem::path dbfPath;
    std::filesystem::path cdxPath;   // empty when there is no index
    OsFile dbf;
    std::optional<OsFile> cdx;
    DbfHeader header;
    locks::Scheme scheme;
    OpenMode mode = OpenMode::Shared;
    bool readOnly = false;
    std::vector<TagInfo> tags;
    Journal journal{std::filesystem::path()};
    IndexCache indexCache;
    uint64_t knownTableSize = 0;     // the table file was at least this long
    uint8_t headerStamp[7] = {};     // header bytes 1-7 (date, count) as last read or written
    std::mutex updateMutex;          // held by each update and by the checkpoint thread
    bool batchOpen = false;          // writes are staged, the write locks held
    std::string unusable;            // why every call fails (the share lock was lost); empty when fine

    void checkUsable() const
    {
        if (!unusable.empty()) throw XbaseError(kFileInUse, unusable);
    }

    bool shared() const { return mode == OpenMode::Shared; }
    std::string dbfName() const { return Utf8FromPath(dbfPath.filename()); }
    std::string cdxName() const { return Utf8FromPath(cdxPath.filename()); }

    // Loads the tag directory and every tag header from the open index.
    void loadTags();
    // Reads the record count from disk (shared) or returns the known one.
    uint32_t currentRecordCount();
    uint32_t indexChangeCounter() const;
    // Reads the change counter and starts the index cache afresh for one
    // locked call; returns the counter. Call holding an index lock (or
    // exclusively open).
    uint32_t refreshIndexCache();
    // The tag's current root page (checked), from the cache when it is known.
    uint32_t tagRoot(size_t tagIndex);
    // Finishes an update a crashed writer left in the journal, taking the
    // write locks for it in shared mode. No-op when the files are read-only.
    void recoverIfPending();
    // Forgets what was read or written since the files were last known
    // (after a failed update or a dropped batch): the index cache, the
    // known size, the header's count and date.
    void forgetUnwritten();
};

// The structural index next to `dbfPath`: same base name, extension .CDX in
// any letter case. Empty when there is none.
std::filesystem::path findStructuralIndex(const std::filesystem::path& dbfPath);
std::filesystem::path newIndexPathFor(const std::filesystem::path& dbfPath);

// Holds the index read lock (shared) for one cursor call in shared mode.
class IndexReadLock {
public:
    explicit IndexReadLock(TableState& state);
    ~IndexReadLock();
    IndexReadLock(const IndexReadLock&) = delete;
    IndexReadLock& operator=(const IndexReadLock&) = delete;

private:
    TableState& state_;
    bool held_ = false;
};

}  // namespace xbase
