#pragma once
// The byte-range locks a writer holds: released at scope end.
#include <optional>
#include <utility>

#include "data/storage/TableState.h"

namespace xbase {

// Releases a byte-range lock at scope end.
class RangeLock {
public:
    RangeLock() = default;
    RangeLock(OsFile* file, uint64_t offset) : file_(file), offset_(offset) {}
    RangeLock(RangeLock&& o) noexcept : file_(std::exchange(o.file_, nullptr)), offset_(o.offset_) {}
    RangeLock& operator=(RangeLock&&) = delete;
    ~RangeLock()
    {
        if (file_) file_->unlockRange(offset_, 1);
    }

private:
    OsFile* file_ = nullptr;
    uint64_t offset_ = 0;
};

// The header lock and the index write lock, held for one update (shared
// mode only; an exclusive open needs none).
class TableWriteLocks {
public:
    TableWriteLocks(TableState& s, int waitMs)
    {
        if (!s.shared()) return;
        if (!s.dbf.lockRangeWithin(s.scheme.headerLock(), 1, OsFile::LockKind::Exclusive, waitMs))
            throw XbaseError(kAppendLocked, s.dbfName() + ": could not lock the table header (another process is writing)");
        header_.emplace(&s.dbf, s.scheme.headerLock());
        if (s.cdx) {
            if (!s.cdx->lockRangeWithin(locks::kIndexLockOffset, 1, OsFile::LockKind::Exclusive, waitMs))
                throw XbaseError(kAppendLocked, s.cdxName() + ": could not lock the index (another process is reading or writing)");
            index_.emplace(&*s.cdx, locks::kIndexLockOffset);
        }
    }

private:
    std::optional<RangeLock> header_, index_;
};

}  // namespace xbase
