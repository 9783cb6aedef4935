#include "data/storage/XbaseTableImpl.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>
#include <optional>

#include "data/storage/Bytes.h"
#include "data/storage/CdxTree.h"
#include "data/storage/TagCursorImpl.h"
#include "data/storage/WriteLocks.h"

namespace xbase {
namespace {

constexpr int kLockWaitMs = 5000;
// Closing does not wait long for a busy table: the next writer checkpoints.
constexpr int kCloseLockWaitMs = 200;

std::string upper(std::string_view s)
{
    std::string r(s);
    for (char& c : r) c = char(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

}  // namespace

std::unique_ptr<XbaseTable> XbaseTable::open(const std::filesystem::path& dbfPath, OpenMode mode, bool readOnly)
{
    return std::make_unique<XbaseTableImpl>(dbfPath, mode, readOnly);
}

XbaseTableImpl::XbaseTableImpl(const std::filesystem::path& dbfPath, OpenMode mode, bool readOnly)
    : state_(std::make_shared<TableState>())
{
    TableState& s = *state_;
    s.dbfPath = dbfPath;
    s.mode = mode;
    s.readOnly = readOnly;
    s.journal = Journal(Journal::pathFor(dbfPath));
    s.dbf = OsFile::open(dbfPath, true, kFileNotFound);
    const auto share = mode == OpenMode::Exclusive ? OsFile::LockKind::Exclusive : OsFile::LockKind::Shared;
    if (!s.dbf.tryFlock(share))
        throw XbaseError(kFileInUse, s.dbfName() + (mode == OpenMode::Exclusive ? ": table is open in another process"
                                                                                : ": table is open exclusively in another process"));
    uint8_t first[32] = {};
    const size_t got = s.dbf.readAt(0, first);
    if (got < 32) throw XbaseError(kCorruptTable, s.dbfName() + ": file too short for a table header (" + std::to_string(got) + " bytes)");
    if (auto cdxPath = findStructuralIndex(dbfPath); !cdxPath.empty()) openIndex(cdxPath);
    s.scheme.cdx = (first[28] & 0x01) != 0;
    s.recoverIfPending();

    const uint16_t headerLength = DbfHeader::declaredHeaderLength(first);
    std::vector<uint8_t> head(std::max<size_t>(headerLength, 32));
    head.resize(s.dbf.readAt(0, head));
    s.header = DbfHeader::parse(head, s.dbfName());
    s.scheme.cdx = (s.header.flags & 0x01) != 0;
    s.scheme.headerLength = s.header.headerLength;
    s.scheme.recordLength = s.header.recordLength;
    const uint64_t needed = uint64_t(s.header.headerLength) + uint64_t(s.header.recordCount) * s.header.recordLength;
    s.knownTableSize = s.dbf.size();
    if (needed > s.knownTableSize)
        throw XbaseError(kCorruptTable, s.dbfName() + ": record count " + std::to_string(s.header.recordCount) + " needs " +
                                            std::to_string(needed) + " bytes but the file has " + std::to_string(s.knownTableSize));
    std::copy(head.begin() + 1, head.begin() + 8, s.headerStamp);
    s.loadTags();
    reindexGivenUpSlots();
}

void XbaseTableImpl::reindexGivenUpSlots()
{
    TableState& s = *state_;
    const auto givenUp = s.journal.takeGivenUp();
    if (givenUp.empty() || !s.cdx || s.readOnly) return;
    const uint32_t recLen = s.header.recordLength;
    for (const auto& g : givenUp) {
        if (g.offset < s.header.headerLength || (g.offset - s.header.headerLength) % recLen != 0 || g.bytes.size() != recLen) continue;
        const uint32_t recno = uint32_t((g.offset - s.header.headerLength) / recLen) + 1;
        try {
            underWriteLocks([&] {
                if (recno > s.currentRecordCount()) return;
                std::vector<uint8_t> now(recLen);
                readRecord(recno, now);
                commitRecord(recno, &g.bytes, now, false);
            });
        } catch (const XbaseError&) {
            // Left as it is: a seek never trusts a key its record does not hold.
        }
    }
}

XbaseTableImpl::~XbaseTableImpl()
{
    for (uint32_t r : lockedRecords_) state_->dbf.unlockRange(state_->scheme.recordLock(r), 1);
    if (state_->batchOpen) abortBatch();
    checkpointer_.reset();
    if (!wrote_) return;
    // What this table wrote is made durable in place now, so no later open
    // needs the journal for it. Should that fail, the journal still holds it.
    try {
        TableState& s = *state_;
        TableWriteLocks locks(s, kCloseLockWaitMs);
        s.journal.checkpoint(s.dbf, s.cdx ? &*s.cdx : nullptr);
    } catch (const XbaseError&) {
    }
}

void XbaseTableImpl::openIndex(const std::filesystem::path& cdxPath)
{
    TableState& s = *state_;
    s.cdxPath = cdxPath;
    s.cdx = OsFile::open(cdxPath, true, kFileNotFound);
    const auto share = s.mode == OpenMode::Exclusive ? OsFile::LockKind::Exclusive : OsFile::LockKind::Shared;
    if (!s.cdx->tryFlock(share)) throw XbaseError(kFileInUse, s.cdxName() + ": index is in use by another process");
}

std::vector<uint8_t> XbaseTableImpl::blankRecord() const { return std::vector<uint8_t>(state_->header.recordLength, ' '); }

void XbaseTableImpl::readRecord(uint32_t recno, std::span<uint8_t> image)
{
    TableState& s = *state_;
    s.checkUsable();
    if (image.size() < s.header.recordLength)
        throw XbaseError(kBadRecordNumber, s.dbfName() + ": record buffer smaller than the record length");
    if (recno == 0 || recno > s.header.recordCount) {
        if (recno == 0 || recno > s.currentRecordCount())
            throw XbaseError(kBadRecordNumber, s.dbfName() + ": record " + std::to_string(recno) + " does not exist (" +
                                                   std::to_string(s.header.recordCount) + " records)");
    }
    const uint64_t offset = s.header.headerLength + uint64_t(recno - 1) * s.header.recordLength;
    s.dbf.readExact(offset, image.first(s.header.recordLength), kCorruptTable, "record " + std::to_string(recno));
}

void XbaseTableImpl::lockRecord(uint32_t recno)
{
    TableState& s = *state_;
    s.checkUsable();
    if (!s.shared() || lockedRecords_.count(recno)) return;
    // Records are never removed while shared: a number within the known count exists.
    if (recno == 0 || (recno > s.header.recordCount && recno > s.currentRecordCount()))
        throw XbaseError(kBadRecordNumber, s.dbfName() + ": record " + std::to_string(recno) + " does not exist");
    if (!s.dbf.tryLockRange(s.scheme.recordLock(recno), 1, OsFile::LockKind::Exclusive))
        throw XbaseError(kRecordLocked, s.dbfName() + ": record " + std::to_string(recno) + " is locked by another user");
    lockedRecords_.insert(recno);
}

void XbaseTableImpl::unlockRecord(uint32_t recno)
{
    if (lockedRecords_.erase(recno)) state_->dbf.unlockRange(state_->scheme.recordLock(recno), 1);
}

std::vector<std::string> XbaseTableImpl::tagNames() const
{
    std::vector<std::string> names;
    for (const TagInfo& t : state_->tags) names.push_back(t.name);
    return names;
}

std::unique_ptr<TagCursor> XbaseTableImpl::tag(std::string_view name)
{
    const std::string wanted = upper(name);
    for (size_t i = 0; i < state_->tags.size(); ++i)
        if (state_->tags[i].name == wanted) return std::make_unique<TagCursorImpl>(state_, i);
    throw XbaseError(kTagNotFound, (state_->cdx ? state_->cdxName() : state_->dbfName()) + ": no index tag named " + std::string(name));
}

void XbaseTableImpl::checkWritable(std::span<const uint8_t> image) const
{
    const TableState& s = *state_;
    s.checkUsable();
    if (s.readOnly) throw XbaseError(kReadOnly, s.dbfName() + ": table is open read-only");
    if (!s.dbf.writable()) throw XbaseError(kReadOnly, s.dbfName() + ": file cannot be written");
    if (s.cdx && !s.cdx->writable()) throw XbaseError(kReadOnly, s.cdxName() + ": index file cannot be written");
    for (const TagInfo& t : s.tags)
        if (!t.writeProblem.empty()) throw XbaseError(kBadExpression, t.writeProblem);
    if (image.size() != s.header.recordLength)
        throw XbaseError(kBadRecordNumber, s.dbfName() + ": record image has " + std::to_string(image.size()) +
                                               " bytes, the record length is " + std::to_string(s.header.recordLength));
}

void XbaseTableImpl::underWriteLocks(const std::function<void()>& update)
{
    TableState& s = *state_;
    std::lock_guard<std::mutex> updates(s.updateMutex);
    if (s.batchOpen) {
        // The batch holds the locks and recovered when it began.
        update();
        return;
    }
    TableWriteLocks locks(s, kLockWaitMs);
    if (s.journal.recover(s.dbf, s.cdx ? &*s.cdx : nullptr)) {
        s.indexCache.drop();
        s.knownTableSize = 0;
    }
    wrote_ = true;
    update();
    checkpointSoon();
}

void XbaseTableImpl::checkpointSoon()
{
    TableState& s = *state_;
    if (!s.journal.holdsUpdates()) return;
    if (!checkpointer_) checkpointer_ = std::make_unique<Checkpointer>(s.dbfPath, s.scheme, s.shared(), s.updateMutex);
    checkpointer_->wrote(s.cdxPath);
}

}  // namespace xbase
