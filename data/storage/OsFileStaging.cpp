// A batch's writes held in memory by the file handle (the same on every
// system): reads and size() see them, the file is untouched until they are
// taken and written as one commit. Also the recorder of what reaches files.
#include "data/storage/OsFile.h"

#include <algorithm>
#include <atomic>
#include <iterator>

namespace xbase {
namespace {

std::atomic<FileEventRecorder*> g_recorder{nullptr};

}  // namespace

void setFileEventRecorder(FileEventRecorder* recorder) { g_recorder = recorder; }
FileEventRecorder* fileEventRecorder() { return g_recorder.load(std::memory_order_relaxed); }

size_t OsFile::readStaged(uint64_t offset, std::span<uint8_t> buffer, size_t fromFile) const
{
    size_t result = fromFile;
    const uint64_t end = offset + buffer.size();
    auto it = staged_->upper_bound(offset);
    if (it != staged_->begin()) --it;
    for (; it != staged_->end() && it->first < end; ++it) {
        const uint64_t from = std::max(offset, it->first);
        const uint64_t to = std::min(end, it->first + it->second.size());
        if (from >= to) continue;
        // Bytes between the file's end and a staged extent read as zeros.
        if (from - offset > result) std::fill(buffer.begin() + std::ptrdiff_t(result), buffer.begin() + std::ptrdiff_t(from - offset), uint8_t(0));
        std::copy(it->second.begin() + std::ptrdiff_t(from - it->first), it->second.begin() + std::ptrdiff_t(to - it->first),
                  buffer.begin() + std::ptrdiff_t(from - offset));
        result = std::max(result, size_t(to - offset));
    }
    return result;
}

void OsFile::startStaging() { staged_ = std::make_unique<Extents>(); }

OsFile::Extents OsFile::takeStaged()
{
    Extents taken = staged_ ? std::move(*staged_) : Extents {};
    staged_.reset();
    return taken;
}

void OsFile::stage(uint64_t offset, std::span<const uint8_t> data)
{
    if (data.empty()) return;
    Extents& x = *staged_;
    uint64_t start = offset, end = offset + data.size();
    auto it = x.find(offset);
    if (it != x.end() && it->second.size() == data.size()) {
        std::copy(data.begin(), data.end(), it->second.begin());   // the same page again
        return;
    }
    // Merged with every extent it overlaps.
    it = x.upper_bound(offset);
    if (it != x.begin() && std::prev(it)->first + std::prev(it)->second.size() > offset) --it;
    auto last = it;
    for (; last != x.end() && last->first < end; ++last) {
        start = std::min(start, last->first);
        end = std::max(end, last->first + last->second.size());
    }
    std::vector<uint8_t> merged(end - start);
    for (auto k = it; k != last; ++k) std::copy(k->second.begin(), k->second.end(), merged.begin() + std::ptrdiff_t(k->first - start));
    std::copy(data.begin(), data.end(), merged.begin() + std::ptrdiff_t(offset - start));
    x.erase(it, last);
    x.emplace(start, std::move(merged));
}

}  // namespace xbase
