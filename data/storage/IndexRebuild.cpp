// Building a tag: the whole index file is written anew next to the old one
// (existing tags copied key by key, the new tag computed from every record),
// synced, and renamed over it, so a crash leaves either the old or the new
// index, never a mixture.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "data/storage/Bytes.h"
#include "data/storage/CdxTree.h"
#include "data/storage/XbaseTableImpl.h"

namespace xbase {
namespace {

constexpr int kShareWaitMs = 5000;
constexpr uint32_t kReadSlice = 4u << 20;   // records are read 4 MiB at a time
constexpr int kShareRetryMs = 10;

// Pages of a new index file, kept in memory until written in one go.
class ImageStore : public PageStore {
public:
    explicit ImageStore(std::string name) : name_(std::move(name)) {}
    const std::string& fileName() const override { return name_; }
    CdxPage readPage(uint32_t offset) override
    {
        CdxPage p;
        std::memcpy(p.data(), image_.data() + offset, kCdxPageSize);
        return p;
    }
    void writePage(uint32_t offset, const CdxPage& page) override { std::memcpy(image_.data() + offset, page.data(), kCdxPageSize); }
    uint32_t allocatePage() override
    {
        if (image_.size() + kCdxPageSize > 0xFFFFFE00u) throw XbaseError(kIoError, name_ + ": index file would exceed 4 GiB");
        const uint32_t offset = uint32_t(image_.size());
        image_.resize(image_.size() + kCdxPageSize, 0);
        return offset;
    }
    uint64_t pageCount() const override { return image_.size() / kCdxPageSize + 1; }
    std::vector<uint8_t>& image() { return image_; }

private:
    std::string name_;
    std::vector<uint8_t> image_;
};

std::string upper(std::string_view s)
{
    std::string r(s);
    for (char& c : r) c = char(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

struct TagPlan {
    std::string name;
    CdxHeader header;
    CdxKeyFormat format;
    SortedKeys keys;
};

}  // namespace

void XbaseTableImpl::createTag(std::string_view name, std::string_view expression, bool unique, bool descending)
{
    TableState& s = *state_;
    const std::string tagName = upper(name);
    if (tagName.empty() || tagName.size() > 10 ||
        !std::all_of(tagName.begin(), tagName.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }))
        throw XbaseError(kBadExpression, s.dbfName() + ": invalid tag name '" + std::string(name) + "'");
    if (descending) throw XbaseError(kBadExpression, s.dbfName() + ": descending tags are not supported");
    const KeyExpression parsed = KeyExpression::parse(expression, s.header.fields);
    if (!parsed.canEvaluate() || parsed.keyType() != KeyExpression::KeyType::Character)
        throw XbaseError(kBadExpression, s.dbfName() + ": " + (parsed.problem().empty() ? "unsupported key expression" : parsed.problem()));
    if (s.readOnly || !s.dbf.writable()) throw XbaseError(kReadOnly, s.dbfName() + ": table is open read-only");

    // Replacing the index file needs every other user gone. flock() turns
    // a shared lock into an exclusive one by letting go of it first, so a
    // failed or finished upgrade has to take the shared lock back, and
    // another process may have opened the table exclusively in between.
    if (!s.shared()) {
        rebuildIndexFile(tagName, std::string(expression), unique);
        return;
    }
    if (!s.dbf.tryFlock(OsFile::LockKind::Exclusive)) {
        retakeShare();
        throw XbaseError(kFileInUse, s.dbfName() + ": building an index needs the table to be used by no other process");
    }
    try {
        rebuildIndexFile(tagName, std::string(expression), unique);
    } catch (...) {
        retakeShare();
        throw;
    }
    retakeShare();
}

void XbaseTableImpl::retakeShare()
{
    TableState& s = *state_;
    // Another process's exclusive open that slipped in usually fails or
    // ends soon; wait a while for it before giving the table up.
    for (int waited = 0;; waited += kShareRetryMs) {
        if (s.dbf.tryFlock(OsFile::LockKind::Shared)) return;
        if (waited >= kShareWaitMs) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kShareRetryMs));
    }
    // Without its share lock this object must not touch the files again:
    // the other process believes it has them to itself.
    s.unusable = s.dbfName() + ": another process opened the table exclusively while an index was being built; "
                               "close the table and open it again";
    for (uint32_t r : lockedRecords_) s.dbf.unlockRange(s.scheme.recordLock(r), 1);
    lockedRecords_.clear();
    wrote_ = false;
    throw XbaseError(kFileInUse, s.unusable);
}

void XbaseTableImpl::rebuildIndexFile(const std::string& tagName, const std::string& expression, bool unique)
{
    TableState& s = *state_;
    // An old journal must never be written into the new index file.
    s.journal.checkpoint(s.dbf, s.cdx ? &*s.cdx : nullptr);
    const uint32_t count = s.currentRecordCount();

    std::vector<TagPlan> plans;
    uint32_t counter = 0;
    if (s.cdx) {
        counter = s.refreshIndexCache();
        FilePageStore store(*s.cdx, &s.indexCache);
        for (size_t t = 0; t < s.tags.size(); ++t) {
            const TagInfo& tag = s.tags[t];
            if (tag.name == tagName) continue;
            TagPlan plan{tag.name, tag.header, tag.format, {}};
            plan.keys.keyLength = tag.format.keyLength;
            // The root as it is now: updates since the open may have split it.
            CdxTree tree(store, tag.format, s.tagRoot(t));
            for (auto pos = tree.first(); pos; ) {
                const CdxEntry& e = pos->entry();
                plan.keys.keys.insert(plan.keys.keys.end(), e.key.begin(), e.key.end());
                plan.keys.recnos.push_back(e.recno);
                if (!tree.next(*pos)) break;
            }
            plans.push_back(std::move(plan));
        }
    }

    // The new tag: every record's key, read in large slices, then sorted.
    const KeyExpression keyExpr = KeyExpression::parse(expression, s.header.fields);
    TagPlan plan{tagName, CdxHeader::make(keyExpr.length(), uint8_t(0x60 | (unique ? 0x01 : 0x00)), expression, false),
                 CdxKeyFormat{keyExpr.length(), keyExpr.padByte()}, {}};
    {
        const size_t k = keyExpr.length();
        std::vector<uint8_t> keys(size_t(count) * k);
        const uint32_t recLen = s.header.recordLength;
        const uint32_t perSlice = std::max<uint32_t>(1, kReadSlice / recLen);
        // Each worker reads its share of the records in large slices.
        auto extract = [&](uint32_t from, uint32_t to) {
            std::vector<uint8_t> slice(size_t(std::min(perSlice, std::max<uint32_t>(to - from, 1))) * recLen);
            uint8_t* out = keys.data() + size_t(from) * k;
            for (uint32_t done = from; done < to;) {
                const uint32_t n = std::min(perSlice, to - done);
                const uint64_t offset = s.header.headerLength + uint64_t(done) * recLen;
                s.dbf.readExact(offset, std::span<uint8_t>(slice.data(), size_t(n) * recLen), kCorruptTable, "records");
                for (uint32_t i = 0; i < n; ++i, out += k)
                    keyExpr.evaluate(std::span<const uint8_t>(slice.data() + size_t(i) * recLen, recLen), out);
                done += n;
            }
        };
        if (keyWorkers(count) > 1) {
            auto firstHalf = std::async(std::launch::async, extract, 0u, count / 2);
            extract(count / 2, count);
            firstHalf.get();
        } else {
            extract(0, count);
        }
        plan.keys = sortKeys(std::move(keys), uint16_t(k), unique);
    }
    plans.push_back(std::move(plan));
    std::sort(plans.begin(), plans.end(), [](const TagPlan& a, const TagPlan& b) { return a.name < b.name; });

    // Layout: directory header, directory leaf, tag headers, then the trees.
    const std::filesystem::path target = s.cdx ? s.cdxPath : newIndexPathFor(s.dbfPath);
    ImageStore image(Utf8FromPath(target.filename()));
    {
        // At worst a leaf holds entries of a whole key each; reserving that
        // much address space costs nothing until it is written.
        size_t pages = 8 + 2 * plans.size();
        for (const TagPlan& p : plans) pages += 2 * (p.keys.size() / std::max<size_t>(1, 488 / (p.format.keyLength + 4u)) + 1);
        image.image().reserve(pages * kCdxPageSize);
    }
    image.allocatePage();
    image.allocatePage();
    const uint32_t dirLeaf = image.allocatePage();
    std::vector<uint32_t> headerOffsets;
    for (size_t i = 0; i < plans.size(); ++i) {
        headerOffsets.push_back(image.allocatePage());
        image.allocatePage();
    }
    CdxNode dir;
    dir.attributes = 3;
    const CdxKeyFormat dirFormat{10, 0x20};
    for (size_t i = 0; i < plans.size(); ++i) {
        std::string key = plans[i].name;
        key.resize(10, ' ');
        dir.entries.push_back(CdxEntry{key, headerOffsets[i], 0});
    }
    auto dirPage = encodeNode(dir, dirFormat);
    if (!dirPage) throw XbaseError(kBadExpression, image.fileName() + ": too many tags for one index file");
    image.writePage(dirLeaf, *dirPage);
    for (size_t i = 0; i < plans.size(); ++i) {
        const uint32_t root = CdxTree::build(image, plans[i].format, plans[i].keys);
        plans[i].keys = SortedKeys{};
        plans[i].header.setRoot(root);
        plans[i].header.setChangeCounter(0);
        bytes::putLe32(plans[i].header.raw.data() + 4, 0);
        std::memcpy(image.image().data() + headerOffsets[i], plans[i].header.raw.data(), kCdxHeaderSize);
    }
    CdxHeader dirHeader = CdxHeader::make(10, 0xE0, "", false);
    dirHeader.setRoot(dirLeaf);
    dirHeader.setChangeCounter(counter + 1);
    std::memcpy(image.image().data(), dirHeader.raw.data(), kCdxHeaderSize);

    auto temp = target;
    temp += ".tmp";
    {
        OsFile out = OsFile::createOrTruncate(temp);
        out.writeAt(0, image.image());
        out.sync();
    }
    // Windows cannot replace a file that is open; the old index goes first,
    // and comes back when it stays.
    const bool hadIndex = s.cdx.has_value();
    s.cdx.reset();
    try {
        replaceFile(temp, target);
    } catch (...) {
        if (hadIndex) openIndex(target);
        throw;
    }
    syncDirectoryOf(target);

    // Announce the structural index in the table header.
    if (!(s.header.flags & 0x01)) {
        uint8_t flags = uint8_t(s.header.flags | 0x01);
        s.dbf.writeAt(28, std::span<const uint8_t>(&flags, 1));
        s.dbf.sync();
        s.header.flags = flags;
        s.scheme.cdx = true;
    }
    openIndex(target);
    s.loadTags();
}

}  // namespace xbase
