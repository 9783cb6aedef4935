#include "data/storage/PageStore.h"

#include <atomic>

#include "data/storage/XbaseTable.h"

namespace xbase {
namespace {
std::atomic<uint64_t> g_pageReads{0};
}

uint64_t indexPageReads() { return g_pageReads.load(std::memory_order_relaxed); }

FilePageStore::FilePageStore(const OsFile& file, IndexCache* cache)
    : file_(file), cache_(cache), name_(file.name()), size_(cache ? cache->fileSize : file.size())
{
}

CdxPage FilePageStore::readPage(uint32_t offset)
{
    if (cache_)
        if (const CdxPage* cached = cache_->find(offset)) return *cached;
    if (offset % kCdxPageSize != 0 || offset < kCdxPageSize || uint64_t(offset) + kCdxPageSize > size_)
        throw XbaseError(kCorruptIndex, name_ + ": page pointer " + std::to_string(offset) + " is outside the file (size " +
                                            std::to_string(size_) + ")");
    CdxPage page;
    file_.readExact(offset, page, kCorruptIndex, "index page");
    g_pageReads.fetch_add(1, std::memory_order_relaxed);
    if (cache_) cache_->remember(offset, page);
    return page;
}

void FilePageStore::writePage(uint32_t, const CdxPage&)
{
    throw XbaseError(kReadOnly, name_ + ": index pages are written only inside an update");
}

uint32_t FilePageStore::allocatePage()
{
    throw XbaseError(kReadOnly, name_ + ": index pages are allocated only inside an update");
}

PendingPageStore::PendingPageStore(const OsFile& file, IndexCache* cache)
    : FilePageStore(file, cache), end_((size_ + kCdxPageSize - 1) / kCdxPageSize * kCdxPageSize)
{
}

CdxPage PendingPageStore::readPage(uint32_t offset)
{
    if (auto it = pages_.find(offset); it != pages_.end()) return it->second;
    return FilePageStore::readPage(offset);
}

void PendingPageStore::writePage(uint32_t offset, const CdxPage& page) { pages_[offset] = page; }

uint32_t PendingPageStore::allocatePage()
{
    if (end_ + kCdxPageSize > 0xFFFFFE00u) throw XbaseError(kIoError, name_ + ": index file would exceed 4 GiB");
    uint32_t offset = uint32_t(end_);
    end_ += kCdxPageSize;
    pages_[offset] = CdxPage {};
    return offset;
}

}  // namespace xbase
