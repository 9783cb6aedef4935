// The cheap check start-up makes before it trusts a structural index: it
// must be readable (header, tag directory, the way to both ends of every
// tag) and lead the first and last records back to themselves. A damaged
// index, or one that belongs to other records (an empty file, another
// table's index copied in), is then rebuilt like a missing one.
#include "data/storage/CdxTree.h"
#include "data/storage/XbaseTableImpl.h"

namespace xbase {

std::string XbaseTableImpl::indexDamage()
{
    TableState& s = *state_;
    if (!s.cdx) return {};
    IndexReadLock lock(s);
    s.refreshIndexCache();
    FilePageStore store(*s.cdx, &s.indexCache);
    const uint32_t count = s.currentRecordCount();
    std::vector<uint8_t> image(s.header.recordLength);
    std::string key;
    auto keyOf = [&](const TagInfo& tag, uint32_t recno) {
        s.dbf.readExact(s.header.headerLength + uint64_t(recno - 1) * s.header.recordLength, image, kCorruptTable,
                        "record " + std::to_string(recno));
        key.clear();
        tag.expression.evaluate(image, key);
        key.resize(tag.format.keyLength, char(tag.format.pad));
        return key;
    };
    for (size_t t = 0; t < s.tags.size(); ++t) {
        const TagInfo& tag = s.tags[t];
        if (!tag.expression.canEvaluate() || tag.expression.keyType() != KeyExpression::KeyType::Character) continue;
        const std::string about = s.cdxName() + ": tag " + tag.name + " ";
        CdxTree tree(store, tag.format, s.tagRoot(t));
        for (bool leftmost : {true, false}) {
            const auto pos = leftmost ? tree.first() : tree.last();
            if (!pos) {
                if (count > 0) return about + "holds no keys, the table has " + std::to_string(count) + " records";
                continue;
            }
            const uint32_t r = pos->entry().recno;
            if (r == 0 || r > count) return about + "names record " + std::to_string(r) + " of " + std::to_string(count);
            if (keyOf(tag, r) != pos->entry().key) return about + "holds a key record " + std::to_string(r) + " does not hold";
        }
        for (uint32_t r : {1u, count}) {
            if (count == 0) break;
            keyOf(tag, r);
            // A unique tag keeps only the first record of each key.
            const auto pos = tree.lowerBound(key, tag.header.unique() ? 0 : r);
            if (!pos || pos->entry().key != key || (!tag.header.unique() && pos->entry().recno != r))
                return about + "has no key for record " + std::to_string(r);
        }
    }
    return {};
}

std::string indexDamage(const std::filesystem::path& dbfPath)
{
    try {
        auto table = XbaseTable::open(dbfPath, OpenMode::Shared, true);
        return static_cast<XbaseTableImpl&>(*table).indexDamage();
    } catch (const XbaseError& e) {
        // Only the index's own damage: a table that cannot be opened for
        // other reasons (in use, unreadable) is reported where it is opened.
        if (e.code() == kCorruptIndex) return e.what();
        return {};
    }
}

}  // namespace xbase
