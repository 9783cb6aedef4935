#pragma once
// Redo journal that makes table updates atomic and durable across the DBF
// and CDX files. Every update is appended to a side file as one record, with
// checksums, and synced: that sync is the update's commit. Only then is it
// written in place, without a sync of its own, and the record marked so.
// The table and index files are synced later, at a checkpoint, for all the
// updates since the last one, and the journal is emptied. Until then the
// journal holds a durable copy of every update, which the next writer,
// reader or opener writes in place again when a writer died before it had
// finished, or the machine restarted since. The layout: JournalFormat.h.
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "data/storage/JournalFormat.h"
#include "data/storage/OsFile.h"

namespace xbase {

// A journal as last read: other processes append to it and empty it, so it
// is read again (its header and its end) before each use.
struct JournalTail {
    uint64_t generation = 0;
    uint64_t end = JournalHeader::kRecordsStart;   // where the next record goes
    uint64_t nextSeq = 1;
    uint64_t lastOffset = 0;
    std::optional<JournalRecordHeader> last;
    int64_t firstTime = 0;                        // of the generation's first record
};

class Journal {
public:
    // The journal holds at least this much; it is emptied when full.
    static constexpr uint64_t kCapacity = 256 * 1024;
    // Updates older than this are synced in place before the next one.
    static constexpr int64_t kMaxAgeNs = 1'000'000'000;

    static std::filesystem::path pathFor(const std::filesystem::path& dbfPath);
    // Writes an empty journal of full size at `path`, synced, in place of
    // any journal there was.
    static void createEmpty(const std::filesystem::path& path);

    explicit Journal(std::filesystem::path path) : path_(std::move(path)) {}

    // Makes the update durable in the journal, then writes it in place (and
    // sets each write's `before`). Should writing in place fail, what was
    // written is put back and the journalled record voided before the
    // failure is thrown: an update reported as failed is never applied
    // later. Without a journal (none can be made beside the table) the
    // update is written in place and synced. Call right after `recover`,
    // holding the same write locks (or with the table open exclusively).
    void commit(std::vector<JournalWrite>& writes, OsFile& table, OsFile* index);
    // Whether the journal, as last read or written, holds updates not yet
    // checkpointed.
    bool holdsUpdates() const { return tail_ && tail_->last; }
    // Whether an update waits to be written in place again: its writer died
    // before it had finished, or the machine restarted since it was written.
    // Call holding a lock that keeps writers out.
    bool pending();
    // Writes such updates in place; true when there were any. Call holding
    // the write locks.
    bool recover(OsFile& table, OsFile* index);
    // Finishes what `recover` finishes, syncs the table and index, then
    // empties the journal, synced: its updates are never written again.
    // Call holding the write locks.
    void checkpoint(OsFile& table, OsFile* index);
    // The table writes of confirmed updates the last recovery after a
    // restart gave up because another program had written there since (its
    // append took the slot of one of our records): the index may still hold
    // our record's keys for that slot.
    struct GivenUpWrite {
        uint64_t offset = 0;
        std::vector<uint8_t> bytes;
    };
    std::vector<GivenUpWrite> takeGivenUp() { return std::exchange(givenUp_, {}); }

private:
    using Tail = JournalTail;
    enum class Found { Nothing, Earlier, Current };

    Found refresh();
    void scanOn();
    void restart(uint64_t generation);
    void empty(OsFile& table, OsFile* index);
    bool replayAll(OsFile& table, OsFile* index);
    bool finishLast(OsFile& table, OsFile* index);
    bool recoverEarlier(OsFile& table, OsFile* index);
    void makeRoomFor(uint64_t recordSize, OsFile& table, OsFile* index);
    void markInPlace(uint64_t recordOffset);
    void markTakeBack(uint64_t recordOffset);
    void voidRecord(uint64_t recordOffset);
    void writeHeader(uint64_t generation);
    void readReplaced(std::vector<JournalWrite>& writes, OsFile& table, OsFile* index);
    std::exception_ptr writeInPlace(const std::vector<JournalWrite>& writes, OsFile& table, OsFile* index, bool& undone);
    OsFile* openOrCreate();   // nothing when no journal can be made
    bool openExisting();

    std::filesystem::path path_;
    OsFile file_;
    std::vector<uint8_t> buffer_;   // kept between commits: no allocation per update
    uint64_t room_ = 0;             // the file's size as last seen
    std::optional<Tail> tail_;
    bool cannotCreate_ = false;     // making the journal failed once: not tried again
    std::vector<std::vector<uint8_t>> replaced_;   // the bytes each write of the update replaces
    std::vector<size_t> replacedInFile_;          // how many of them were inside the file
    std::vector<GivenUpWrite> givenUp_;
};

// Updates written in place again from a journal by this process (tests report it).
uint64_t journalReplays();
// Journalled writes that recovery left alone because another program had
// changed those bytes since (each is also reported, see setRecoveryReporter).
uint64_t journalKeptChanges();
// Damaged journal records found followed by sound ones (each is reported).
uint64_t journalDamagedRecords();

}  // namespace xbase
