#include "data/storage/TagCursorImpl.h"

namespace xbase {

TagCursorImpl::TagCursorImpl(std::shared_ptr<TableState> state, size_t tagIndex)
    : state_(std::move(state)), tagIndex_(tagIndex)
{
}

const TagInfo& TagCursorImpl::tag() const { return state_->tags.at(tagIndex_); }
std::string TagCursorImpl::name() const { return tag().name; }
std::string TagCursorImpl::expression() const { return tag().header.keyExpression(); }
uint16_t TagCursorImpl::keyLength() const { return tag().format.keyLength; }

uint32_t TagCursorImpl::currentRoot() { return state_->tagRoot(tagIndex_); }

std::optional<uint32_t> TagCursorImpl::result()
{
    if (!pos_) return std::nullopt;
    return pos_->entry().recno;
}

bool TagCursorImpl::recordHoldsKey(uint32_t recno, const std::string& key)
{
    TableState& s = *state_;
    const TagInfo& t = tag();
    if (!t.expression.canEvaluate() || t.expression.keyType() != KeyExpression::KeyType::Character) return true;
    if (recno == 0 || (recno > s.header.recordCount && recno > s.currentRecordCount())) return false;
    record_.resize(s.header.recordLength);
    const uint64_t offset = s.header.headerLength + uint64_t(recno - 1) * s.header.recordLength;
    if (s.dbf.readAt(offset, record_) != record_.size()) return false;
    recordKey_.clear();
    t.expression.evaluate(record_, recordKey_);
    recordKey_.resize(key.size(), char(t.format.pad));
    return recordKey_ == key;
}

std::optional<uint32_t> TagCursorImpl::seek(std::string_view key)
{
    return underLock([&](CdxTree& tree, uint32_t counter) -> std::optional<uint32_t> {
        counter_ = counter;
        const size_t k = tag().format.keyLength;
        std::string wanted(key);
        if (wanted.size() > k) {
            // Longer than the key: only trailing blanks may be dropped.
            if (wanted.find_first_not_of(' ', k) != std::string::npos) {
                pos_.reset();
                edge_ = Edge::AfterLast;
                return std::nullopt;
            }
            wanted.resize(k);
        }
        wanted.resize(k, ' ');
        pos_ = tree.lowerBound(wanted, 0);
        // A hit is trusted only when its record holds the key: an index
        // key left by an update that was given up (another program's record
        // took its slot) must not lead a writer to that record.
        while (pos_ && pos_->entry().key == wanted && !recordHoldsKey(pos_->entry().recno, wanted))
            if (!tree.next(*pos_)) pos_.reset();
        if (!pos_ || pos_->entry().key != wanted) {
            pos_.reset();
            edge_ = Edge::AfterLast;
            return std::nullopt;
        }
        edge_ = Edge::None;
        return result();
    });
}

std::optional<uint32_t> TagCursorImpl::first()
{
    return underLock([&](CdxTree& tree, uint32_t counter) {
        counter_ = counter;
        pos_ = tree.first();
        edge_ = pos_ ? Edge::None : Edge::AfterLast;
        return result();
    });
}

std::optional<uint32_t> TagCursorImpl::last()
{
    return underLock([&](CdxTree& tree, uint32_t counter) {
        counter_ = counter;
        pos_ = tree.last();
        edge_ = pos_ ? Edge::None : Edge::BeforeFirst;
        return result();
    });
}

bool TagCursorImpl::resync(CdxTree& tree)
{
    const CdxEntry current = pos_->entry();
    pos_ = tree.lowerBound(current.key, current.recno);
    return pos_ && pos_->entry().key == current.key && pos_->entry().recno == current.recno;
}

std::optional<uint32_t> TagCursorImpl::next()
{
    if (!pos_) {
        if (edge_ == Edge::BeforeFirst) return first();
        return std::nullopt;
    }
    return underLock([&](CdxTree& tree, uint32_t counter) {
        if (counter != counter_ || !tree.unchanged(*pos_)) {
            counter_ = counter;
            if (!resync(tree)) {
                // The entry went away; what follows it is already the next one.
                if (!pos_) edge_ = Edge::AfterLast;
                return result();
            }
        }
        if (!tree.next(*pos_)) {
            pos_.reset();
            edge_ = Edge::AfterLast;
        }
        return result();
    });
}

std::optional<uint32_t> TagCursorImpl::prev()
{
    if (!pos_) {
        if (edge_ == Edge::AfterLast) return last();
        return std::nullopt;
    }
    return underLock([&](CdxTree& tree, uint32_t counter) {
        if (counter != counter_ || !tree.unchanged(*pos_)) {
            counter_ = counter;
            if (!resync(tree)) {
                if (!pos_) {
                    pos_ = tree.last();
                    if (!pos_) edge_ = Edge::BeforeFirst;
                    return result();
                }
            }
        }
        if (!tree.prev(*pos_)) {
            pos_.reset();
            edge_ = Edge::BeforeFirst;
        }
        return result();
    });
}

}  // namespace xbase
