// Record writes and appends: the record and every tag's key change go to
// disk as one journaled update.
#include <algorithm>
#include <optional>

#include "data/storage/Bytes.h"
#include "data/storage/CdxTree.h"
#include "data/storage/XbaseTableImpl.h"

namespace xbase {

void XbaseTableImpl::writeRecord(uint32_t recno, std::span<const uint8_t> image)
{
    checkWritable(image);
    underWriteLocks([&] {
        TableState& s = *state_;
        if (recno == 0 || recno > s.currentRecordCount())
            throw XbaseError(kBadRecordNumber, s.dbfName() + ": record " + std::to_string(recno) + " does not exist");
        std::vector<uint8_t> old(s.header.recordLength);
        readRecord(recno, old);
        commitRecord(recno, &old, image, false);
    });
}

uint32_t XbaseTableImpl::appendRecord(std::span<const uint8_t> image)
{
    checkWritable(image);
    uint32_t recno = 0;
    underWriteLocks([&] {
        TableState& s = *state_;
        const uint32_t count = s.currentRecordCount();
        if (count == 0xFFFFFFFFu) throw XbaseError(kIoError, s.dbfName() + ": table is full");
        recno = count + 1;
        commitRecord(recno, nullptr, image, true);
        s.header.recordCount = recno;
    });
    return recno;
}

std::optional<uint32_t> XbaseTableImpl::firstRecordWithKey(const KeyExpression& expression, const std::string& key,
                                                           uint32_t excluded)
{
    TableState& s = *state_;
    const uint32_t count = s.header.recordCount;
    const uint32_t recLen = s.header.recordLength;
    const uint32_t perSlice = std::max<uint32_t>(1, (1u << 18) / recLen);
    std::vector<uint8_t> slice(size_t(perSlice) * recLen);
    std::string candidate;
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(perSlice, count - done);
        s.dbf.readExact(s.header.headerLength + uint64_t(done) * recLen, std::span<uint8_t>(slice.data(), size_t(n) * recLen),
                        kCorruptTable, "records");
        for (uint32_t i = 0; i < n; ++i) {
            if (done + i + 1 == excluded) continue;
            candidate.clear();
            expression.evaluate(std::span<const uint8_t>(slice.data() + size_t(i) * recLen, recLen), candidate);
            if (candidate == key) return done + i + 1;
        }
        done += n;
    }
    return std::nullopt;
}

void XbaseTableImpl::commitRecord(uint32_t recno, const std::vector<uint8_t>* oldImage, std::span<const uint8_t> image,
                                  bool append)
{
    TableState& s = *state_;
    std::vector<JournalWrite> writes;
    const uint64_t recordOffset = s.header.headerLength + uint64_t(recno - 1) * s.header.recordLength;
    writes.push_back(JournalWrite{0, recordOffset, std::vector<uint8_t>(image.begin(), image.end())});
    // The end marker on its own: the next append writes its record over it,
    // and recovery tells such a write of ours from another program's.
    if (append) writes.push_back(JournalWrite{0, recordOffset + image.size(), {0x1A}});
    // In-place order, should a crash tear it before the journal is replayed:
    // the record, pages nothing points to yet, the changed pages and roots,
    // and last the header, which makes an appended record count.
    uint32_t counter = 0;
    std::optional<PendingPageStore> store;
    std::vector<std::pair<size_t, uint32_t>> newRoots;
    if (s.cdx) {
        counter = s.refreshIndexCache();
        const uint64_t indexSize = s.indexCache.fileSize;
        std::vector<JournalWrite> roots;
        store.emplace(*s.cdx, &s.indexCache);
        std::string oldKey, newKey;
        for (size_t t = 0; t < s.tags.size(); ++t) {
            const TagInfo& tag = s.tags[t];
            const uint32_t root = s.tagRoot(t);
            CdxTree tree(*store, tag.format, root);
            newKey.clear();
            tag.expression.evaluate(image, newKey);
            if (oldImage) {
                oldKey.clear();
                tag.expression.evaluate(*oldImage, oldKey);
                if (oldKey == newKey) continue;
                // A unique tag hands a key its record gives up to the next record holding it.
                if (tree.erase(oldKey, recno) && tag.header.unique())
                    if (auto heir = firstRecordWithKey(tag.expression, oldKey, recno)) tree.insert(oldKey, *heir);
            }
            bool insert = true;
            if (oldImage) {
                // Already there (another program that keeps the index put it in).
                auto at = tree.lowerBound(newKey, recno);
                insert = !(at && at->entry().key == newKey && at->entry().recno == recno);
            }
            if (insert && tag.header.unique()) {
                auto at = tree.lowerBound(newKey, 0);
                if (at && at->entry().key == newKey) {
                    const uint32_t holder = at->entry().recno;
                    insert = holder > recno;
                    if (insert) tree.erase(newKey, holder);
                }
            }
            if (insert) tree.insert(newKey, recno);
            if (tree.root() != root) {
                JournalWrite w{1, tag.headerOffset, std::vector<uint8_t>(4)};
                bytes::putLe32(w.bytes.data(), tree.root());
                roots.push_back(std::move(w));
                newRoots.emplace_back(t, tree.root());
            }
        }
        for (bool fresh : {true, false})
            for (const auto& [offset, page] : store->pages())
                if ((offset >= indexSize) == fresh) writes.push_back(JournalWrite{1, offset, std::vector<uint8_t>(page.begin(), page.end())});
        for (auto& w : roots) writes.push_back(std::move(w));
        // Other processes drop their cached pages when this counter moves.
        JournalWrite bump{1, 8, std::vector<uint8_t>(4)};
        bytes::putBe32(bump.bytes.data(), counter + 1);
        writes.push_back(std::move(bump));
    }
    // Last-update date, and the record count (new on append); a rewrite on
    // the day of the last one leaves the header as it is.
    uint8_t stamp[8] = {};
    DbfHeader::stampDateAndCount(stamp, s.header.version, append ? recno : s.header.recordCount);
    const bool headerChanges = !std::equal(stamp + 1, stamp + 8, s.headerStamp);
    if (headerChanges) writes.push_back(JournalWrite{0, 1, std::vector<uint8_t>(stamp + 1, stamp + 8)});
    if (s.batchOpen) {
        // Staged: the files see it when the batch commits.
        for (const JournalWrite& w : writes) (w.target == 0 ? s.dbf : *s.cdx).writeAt(w.offset, w.bytes);
    } else {
        try {
            s.journal.commit(writes, s.dbf, s.cdx ? &*s.cdx : nullptr);
        } catch (...) {
            // What reached the files is not known: read everything afresh.
            s.indexCache.drop();
            s.knownTableSize = 0;
            throw;
        }
    }
    if (headerChanges) std::copy(stamp + 1, stamp + 8, s.headerStamp);
    s.knownTableSize = std::max(s.knownTableSize, recordOffset + image.size() + (append ? 1 : 0));
    if (store) {
        // The cache now holds what this update wrote, under the new counter.
        IndexCache& cache = s.indexCache;
        for (const auto& [offset, page] : store->pages()) cache.remember(offset, page);
        for (const auto& [t, root] : newRoots) cache.roots.at(t) = root;
        cache.fileSize = store->endOfFile();
        cache.counter = counter + 1;
    }
}

}  // namespace xbase
