#pragma once
// Redo journal that makes table updates atomic and durable across the DBF
// and CDX files. Every update is appended to a side file, with checksums,
// and synced: that sync is the update's commit. Only then is it written in
// place, without a sync of its own: the table and index files are synced
// later, at a checkpoint, for all the updates since the last one, and the
// journal is emptied. Until then the journal holds a durable copy of every
// update, which the next writer, reader or opener writes in place again
// when a writer died before it had finished, or the machine restarted.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "data/storage/PosixFile.h"

namespace xbase {

struct JournalWrite {
    uint8_t target = 0;   // 0 table, 1 index
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
};

using BootId = std::array<uint8_t, 16>;

// This machine's boot, as the kernel names it; all zeros when unknown.
const BootId& currentBootId();

// The journal's header block, as stored at the start of the side file.
struct JournalHeader {
    static constexpr size_t kSize = 128;
    static constexpr uint64_t kRecordsStart = 512;

    uint64_t generation = 0;       // changes at every checkpoint: older records are void
    uint64_t appliedSeq = 0;       // records up to this one are written in place
    uint64_t endOffset = kRecordsStart;
    uint64_t nextSeq = 1;
    int64_t firstRecordTime = 0;   // when the oldest record was written (ns since 1970), 0 when none
    BootId boot {};                // the boot in which appliedSeq was written

    bool holdsRecords() const { return endOffset > kRecordsStart; }
    std::array<uint8_t, kSize> serialize() const;
    static std::optional<JournalHeader> parse(std::span<const uint8_t> block);
};

class Journal {
public:
    // The journal holds at least this much; it is emptied when full.
    static constexpr uint64_t kCapacity = 256 * 1024;
    // Updates older than this are synced in place before the next one.
    static constexpr int64_t kMaxAgeNs = 1'000'000'000;

    static std::filesystem::path pathFor(const std::filesystem::path& dbfPath);

    explicit Journal(std::filesystem::path path) : path_(std::move(path)) {}

    // Makes the update durable in the journal, then writes it in place.
    // Call holding the write locks (or with the table open exclusively).
    void commit(const std::vector<JournalWrite>& writes, PosixFile& table, PosixFile* index);
    // Whether an update waits to be written in place again: its writer died
    // before it had finished, or the machine restarted since it was written.
    bool pending();
    // Writes such updates in place; true when there were any. Call holding
    // the write locks.
    bool recover(PosixFile& table, PosixFile* index);
    // Finishes what `recover` finishes, syncs the table and index, then
    // empties the journal, synced: its updates are never written again.
    // Call holding the write locks.
    void checkpoint(PosixFile& table, PosixFile* index);

private:
    std::optional<JournalHeader> readHeader();
    void writeHeader(const JournalHeader& header);
    PosixFile& openOrCreate();
    bool openExisting();
    bool recoverLegacy(PosixFile& table, PosixFile* index);
    void makeRoomFor(uint64_t recordSize, JournalHeader& header, PosixFile& table, PosixFile* index);

    std::filesystem::path path_;
    PosixFile file_;
    std::vector<uint8_t> buffer_;   // kept between commits: no allocation per update
    uint64_t room_ = 0;             // the file's size as last seen
};

// Updates written in place again from a journal by this process (tests report it).
uint64_t journalReplays();

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

}  // namespace xbase
