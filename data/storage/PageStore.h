#pragma once
// Where CDX nodes come from and go to: the index file itself for reads, or
// a pending update that keeps changed and new pages until it is committed.
#include <cstdint>
#include <map>
#include <string>

#include "data/storage/CdxNode.h"
#include "data/storage/PosixFile.h"

namespace xbase {

class PageStore {
public:
    virtual ~PageStore() = default;
    virtual const std::string& fileName() const = 0;
    virtual CdxPage readPage(uint32_t offset) = 0;   // kCorruptIndex when out of range
    virtual void writePage(uint32_t offset, const CdxPage& page) = 0;
    virtual uint32_t allocatePage() = 0;
};

// Reads pages straight from the file (no cache: what is on disk now).
class FilePageStore : public PageStore {
public:
    explicit FilePageStore(const PosixFile& file);
    const std::string& fileName() const override { return name_; }
    CdxPage readPage(uint32_t offset) override;
    void writePage(uint32_t offset, const CdxPage& page) override;
    uint32_t allocatePage() override;

protected:
    const PosixFile& file_;
    std::string name_;
    uint64_t size_;
};

// Collects the pages an update changes; reads see them first.
class PendingPageStore : public FilePageStore {
public:
    explicit PendingPageStore(const PosixFile& file);
    CdxPage readPage(uint32_t offset) override;
    void writePage(uint32_t offset, const CdxPage& page) override;
    uint32_t allocatePage() override;
    const std::map<uint32_t, CdxPage>& pages() const { return pages_; }

private:
    std::map<uint32_t, CdxPage> pages_;
    uint64_t end_;
};

// Counts every index page read from disk (benchmarks and tests check that a
// seek reads one page per tree level).
uint64_t indexPageReads();

}  // namespace xbase
