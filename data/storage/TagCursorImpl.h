#pragma once
// A cursor over one tag. It keeps the leaf it stands on together with the
// index change counter it was read under; when the counter has moved or the
// leaf reads differently (this or another process wrote, whether or not it
// bumped the counter), it finds its place again by key and record.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/storage/CdxTree.h"
#include "data/storage/PageStore.h"
#include "data/storage/TableState.h"
#include "data/storage/XbaseTable.h"

namespace xbase {

class TagCursorImpl : public TagCursor {
public:
    TagCursorImpl(std::shared_ptr<TableState> state, size_t tagIndex);

    std::string name() const override;
    std::string expression() const override;
    uint16_t keyLength() const override;
    std::optional<uint32_t> seek(std::string_view key) override;
    std::optional<uint32_t> first() override;
    std::optional<uint32_t> last() override;
    std::optional<uint32_t> next() override;
    std::optional<uint32_t> prev() override;

private:
    enum class Edge { None, BeforeFirst, AfterLast };
    const TagInfo& tag() const;
    uint32_t currentRoot();
    // Re-finds the current entry when the index changed; false when it is gone
    // (then `pos_` holds the entry that follows it, if any).
    bool resync(CdxTree& tree);
    std::optional<uint32_t> result();
    // Whether record `recno` exists and its key is `key`.
    bool recordHoldsKey(uint32_t recno, const std::string& key);
    // Runs `step(tree, counter)` under the index read lock, on the tag's tree
    // as it is now (the page cache refreshed against the change counter).
    template <class Step>
    std::optional<uint32_t> underLock(Step step) {
        IndexReadLock lock(*state_);
        const uint32_t counter = state_->refreshIndexCache();
        FilePageStore store(*state_->cdx, &state_->indexCache);
        CdxTree tree(store, tag().format, currentRoot());
        return step(tree, counter);
    }

    std::shared_ptr<TableState> state_;
    size_t tagIndex_;
    std::optional<CdxPosition> pos_;
    uint32_t counter_ = 0;
    Edge edge_ = Edge::None;
    std::vector<uint8_t> record_;   // kept between seeks: no allocation per seek
    std::string recordKey_;
};

}  // namespace xbase
