// Building a tag: the whole index file is written anew next to the old one
// (existing tags copied key by key, the new tag computed from every record),
// synced, and renamed over it, so a crash leaves either the old or the new
// index, never a mixture.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <numeric>

#include "data/storage/Bytes.h"
#include "data/storage/CdxTree.h"
#include "data/storage/XbaseTableImpl.h"

namespace xbase {
namespace {

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
    std::vector<CdxEntry> entries;
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

    // Replacing the index file needs every other user gone.
    const bool upgraded = s.shared();
    if (upgraded) {
        if (!s.dbf.tryFlock(OsFile::LockKind::Exclusive)) {
            s.dbf.tryFlock(OsFile::LockKind::Shared);
            throw XbaseError(kFileInUse, s.dbfName() + ": building an index needs the table to be used by no other process");
        }
    }
    struct Downgrade {
        TableState& s;
        bool active;
        ~Downgrade()
        {
            if (active) s.dbf.tryFlock(OsFile::LockKind::Shared);
        }
    } downgrade{s, upgraded};
    rebuildIndexFile(tagName, std::string(expression), unique);
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
            // The root as it is now: updates since the open may have split it.
            CdxTree tree(store, tag.format, s.tagRoot(t));
            for (auto pos = tree.first(); pos; ) {
                plan.entries.push_back(pos->entry());
                plan.entries.back().child = 0;
                if (!tree.next(*pos)) break;
            }
            plans.push_back(std::move(plan));
        }
    }

    // The new tag from every record, read in large slices.
    const KeyExpression keyExpr = KeyExpression::parse(expression, s.header.fields);
    TagPlan plan{tagName, CdxHeader::make(keyExpr.length(), uint8_t(0x60 | (unique ? 0x01 : 0x00)), expression, false),
                 CdxKeyFormat{keyExpr.length(), keyExpr.padByte()}, {}};
    {
        const size_t k = keyExpr.length();
        std::string keys;
        keys.reserve(size_t(count) * k);
        const uint32_t recLen = s.header.recordLength;
        const uint32_t perSlice = std::max<uint32_t>(1, (1u << 20) / recLen);
        std::vector<uint8_t> slice(size_t(perSlice) * recLen);
        for (uint32_t done = 0; done < count;) {
            const uint32_t n = std::min(perSlice, count - done);
            const uint64_t offset = s.header.headerLength + uint64_t(done) * recLen;
            s.dbf.readExact(offset, std::span<uint8_t>(slice.data(), size_t(n) * recLen), kCorruptTable, "records");
            for (uint32_t i = 0; i < n; ++i) keyExpr.evaluate(std::span<const uint8_t>(slice.data() + size_t(i) * recLen, recLen), keys);
            done += n;
        }
        std::vector<uint32_t> order(count);
        std::iota(order.begin(), order.end(), 0u);
        const char* base = keys.data();
        std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            int c = std::memcmp(base + size_t(a) * k, base + size_t(b) * k, k);
            return c != 0 ? c < 0 : a < b;
        });
        plan.entries.reserve(count);
        for (uint32_t i : order) {
            std::string_view key(base + size_t(i) * k, k);
            if (unique && !plan.entries.empty() && plan.entries.back().key == key) continue;
            plan.entries.push_back(CdxEntry{std::string(key), i + 1, 0});
        }
    }
    plans.push_back(std::move(plan));
    std::sort(plans.begin(), plans.end(), [](const TagPlan& a, const TagPlan& b) { return a.name < b.name; });

    // Layout: directory header, directory leaf, tag headers, then the trees.
    const std::filesystem::path target = s.cdx ? s.cdxPath : newIndexPathFor(s.dbfPath);
    ImageStore image(target.filename().string());
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
        const uint32_t root = CdxTree::build(image, plans[i].format, plans[i].entries);
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
