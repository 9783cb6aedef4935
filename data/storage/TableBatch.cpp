// Batches: many updates committed with one journal record and one sync.
#include <memory>

#include "data/storage/WriteLocks.h"
#include "data/storage/XbaseTableImpl.h"

namespace xbase {
namespace {

constexpr int kLockWaitMs = 5000;
constexpr uint64_t kTableHeaderEnd = 32;   // the count and date live in bytes 1-7

// The batch's writes in the order an update writes in place, so that a
// torn batch is as harmless as a torn update for readers that do not know
// the journal: records, pages nothing points to yet, changed pages and tag
// roots, the index's change counter, and last the table header, which makes
// the appended records count.
std::vector<JournalWrite> inPlaceOrder(OsFile::Extents table, OsFile::Extents index, uint64_t indexEnd)
{
    std::vector<JournalWrite> writes, header, fresh, changed, counter;
    for (auto& [offset, bytes] : table)
        (offset < kTableHeaderEnd ? header : writes).push_back(JournalWrite{0, offset, std::move(bytes)});
    for (auto& [offset, bytes] : index) {
        JournalWrite w{1, offset, std::move(bytes)};
        if (offset >= indexEnd) fresh.push_back(std::move(w));
        else if (offset <= 8 && offset + w.bytes.size() > 8) counter.push_back(std::move(w));
        else changed.push_back(std::move(w));
    }
    for (auto* part : {&fresh, &changed, &counter, &header})
        for (auto& w : *part) writes.push_back(std::move(w));
    return writes;
}

}  // namespace

void XbaseTableImpl::beginBatch()
{
    TableState& s = *state_;
    if (s.batchOpen) throw XbaseError(kIoError, s.dbfName() + ": a batch is already open");
    if (s.readOnly) throw XbaseError(kReadOnly, s.dbfName() + ": table is open read-only");
    std::lock_guard<std::mutex> updates(s.updateMutex);
    auto locks = std::make_unique<TableWriteLocks>(s, kLockWaitMs);
    if (s.journal.recover(s.dbf, s.cdx ? &*s.cdx : nullptr)) s.forgetUnwritten();
    s.dbf.startStaging();
    if (s.cdx) s.cdx->startStaging();
    s.batchOpen = true;
    batchLocks_ = std::move(locks);
    wrote_ = true;
}

void XbaseTableImpl::commitBatch()
{
    TableState& s = *state_;
    if (!s.batchOpen) return;
    std::lock_guard<std::mutex> updates(s.updateMutex);
    auto table = s.dbf.takeStaged();
    auto index = s.cdx ? s.cdx->takeStaged() : OsFile::Extents {};
    s.batchOpen = false;
    const auto locks = std::move(batchLocks_);   // let go of on return
    std::vector<JournalWrite> writes = inPlaceOrder(std::move(table), std::move(index), s.cdx ? s.cdx->size() : 0);
    if (writes.empty()) return;
    try {
        s.journal.commit(writes, s.dbf, s.cdx ? &*s.cdx : nullptr);
    } catch (...) {
        // None of the batch was applied (or, not undone, the journal holds
        // it whole): read everything afresh.
        s.forgetUnwritten();
        throw;
    }
    checkpointSoon();
}

void XbaseTableImpl::abortBatch()
{
    TableState& s = *state_;
    if (!s.batchOpen) return;
    std::lock_guard<std::mutex> updates(s.updateMutex);
    s.dbf.takeStaged();
    if (s.cdx) s.cdx->takeStaged();
    s.batchOpen = false;
    s.forgetUnwritten();
    batchLocks_.reset();
}

}  // namespace xbase
