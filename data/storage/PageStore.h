#pragma once
// Where CDX nodes come from and go to: the index file itself for reads, or
// a pending update that keeps changed and new pages until it is committed.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/storage/CdxNode.h"
#include "data/storage/OsFile.h"

namespace xbase {

// Index pages and tag roots read during one locked call (a seek, a cursor
// step, an update). Other xBase programs need not bump the index's change
// counter when they write (many files hold 0 there), so nothing read in an
// earlier call is trusted: every call starts the cache afresh under its
// lock, and within the call each page is read from the file once.
struct IndexCache {
    // Bounds for a call that walks a lot (a rebuild copying a whole tag):
    // interior pages are few (about 2,200 for a 1M-key tag) and on every
    // descent's way; leaves are many and touched once, so they get a small
    // corner of their own and cannot push the interior pages out.
    static constexpr size_t kMaxInteriorPages = 4096;   // 2 MiB
    static constexpr size_t kMaxLeafPages = 256;

    bool valid = false;
    uint32_t counter = 0;
    uint64_t fileSize = 0;
    std::vector<uint32_t> roots;   // per tag; 0 when not read yet

    // Starts a new locked call on an index of `size` bytes.
    void restart(uint32_t changeCounter, uint64_t size, size_t tagCount)
    {
        drop();
        fileSize = size;
        roots.assign(tagCount, 0);
        counter = changeCounter;
        valid = true;
    }
    void drop()
    {
        valid = false;
        interior_.clear();
        leaves_.clear();
        roots.clear();
    }
    const CdxPage* find(uint32_t offset) const
    {
        if (auto it = interior_.find(offset); it != interior_.end()) return &it->second;
        if (auto it = leaves_.find(offset); it != leaves_.end()) return &it->second;
        return nullptr;
    }
    void remember(uint32_t offset, const CdxPage& page)
    {
        const bool leaf = page[0] & 2;
        // A page may change kind when it is reused; keep it in one map only.
        (leaf ? interior_ : leaves_).erase(offset);
        auto& pages = leaf ? leaves_ : interior_;
        if (pages.size() >= (leaf ? kMaxLeafPages : kMaxInteriorPages) && !pages.count(offset)) pages.erase(pages.begin());
        pages[offset] = page;
    }

private:
    std::unordered_map<uint32_t, CdxPage> interior_;
    std::unordered_map<uint32_t, CdxPage> leaves_;
};

class PageStore {
public:
    virtual ~PageStore() = default;
    virtual const std::string& fileName() const = 0;
    virtual CdxPage readPage(uint32_t offset) = 0;   // kCorruptIndex when out of range
    virtual void writePage(uint32_t offset, const CdxPage& page) = 0;
    virtual uint32_t allocatePage() = 0;
    // How many pages the index can hold: no walk of a sound tree visits
    // more, so a walk that does is going round a loop.
    virtual uint64_t pageCount() const = 0;
};

// Reads pages from the file, or from `cache` when one is given (it must be
// current: see TableState::refreshIndexCache).
class FilePageStore : public PageStore {
public:
    explicit FilePageStore(const OsFile& file, IndexCache* cache = nullptr);
    const std::string& fileName() const override { return name_; }
    CdxPage readPage(uint32_t offset) override;
    void writePage(uint32_t offset, const CdxPage& page) override;
    uint32_t allocatePage() override;
    uint64_t pageCount() const override { return size_ / kCdxPageSize + 1; }

protected:
    const OsFile& file_;
    IndexCache* cache_;
    std::string name_;
    uint64_t size_;
};

// Collects the pages an update changes; reads see them first.
class PendingPageStore : public FilePageStore {
public:
    explicit PendingPageStore(const OsFile& file, IndexCache* cache = nullptr);
    CdxPage readPage(uint32_t offset) override;
    void writePage(uint32_t offset, const CdxPage& page) override;
    uint32_t allocatePage() override;
    uint64_t pageCount() const override { return end_ / kCdxPageSize + 1; }
    const std::map<uint32_t, CdxPage>& pages() const { return pages_; }
    // File size once the pages are written.
    uint64_t endOfFile() const { return pages_.empty() ? size_ : std::max(size_, uint64_t(pages_.rbegin()->first) + kCdxPageSize); }

private:
    std::map<uint32_t, CdxPage> pages_;
    uint64_t end_;
};

// Counts every index page read from disk (benchmarks and tests check that a
// seek reads one page per tree level).
uint64_t indexPageReads();

}  // namespace xbase
