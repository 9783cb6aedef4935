#pragma once
// Redo journal that makes one table update atomic across the DBF and CDX
// files: every byte range the update changes is first written, with a
// checksum, to a side file and synced; only then are the ranges written in
// place. A crash while writing in place leaves a complete journal, which
// the next writer or opener replays; a crash while writing the journal
// leaves a checksum mismatch, and the files are untouched.
#include <cstdint>
#include <filesystem>
#include <vector>

#include "data/storage/PosixFile.h"

namespace xbase {

struct JournalWrite {
    uint8_t target = 0;   // 0 table, 1 index
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
};

class Journal {
public:
    static std::filesystem::path pathFor(const std::filesystem::path& dbfPath);

    explicit Journal(std::filesystem::path path) : path_(std::move(path)) {}

    // Writes the journal, syncs it, applies the writes, syncs the files and
    // clears the journal. `index` may be null when nothing targets it.
    void commit(const std::vector<JournalWrite>& writes, PosixFile& table, PosixFile* index);
    // Whether a complete-looking journal waits to be replayed (header only).
    bool pending();
    // Replays a complete journal left by a crashed writer; true when it did.
    bool recover(PosixFile& table, PosixFile* index);
    // Empties the journal, synced (before an index file is replaced, after
    // which an old journal must never be replayed).
    void clear();

private:
    PosixFile& file();
    void invalidate(bool sync);
    bool openExisting();
    std::filesystem::path path_;
    PosixFile file_;
    std::vector<uint8_t> buffer_;   // kept between commits: no allocation per update
};

// Updates replayed from a journal by this process (tests report it).
uint64_t journalReplays();

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

}  // namespace xbase
