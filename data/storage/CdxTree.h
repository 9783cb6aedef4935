#pragma once
// One tag's B+-tree: hard seek, walking, insert and delete with node splits,
// and building a whole tree from sorted entries. Entries are ordered by
// (key bytes, record number); an interior entry holds the greatest pair of
// its child's subtree.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/storage/CdxNode.h"
#include "data/storage/KeySort.h"
#include "data/storage/PageStore.h"

namespace xbase {

struct CdxPosition {
    uint32_t leaf = kNoPage;
    size_t index = 0;
    CdxNode node;
    CdxPage page {};   // the leaf's bytes as read, to tell whether it changed since
    const CdxEntry& entry() const { return node.entries[index]; }
};

class CdxTree {
public:
    CdxTree(PageStore& store, CdxKeyFormat format, uint32_t root) : store_(store), format_(format), root_(root) {}

    uint32_t root() const { return root_; }

    // First entry whose pair is >= (key, recno); nullopt past the end.
    std::optional<CdxPosition> lowerBound(std::string_view key, uint32_t recno);
    std::optional<CdxPosition> first();
    std::optional<CdxPosition> last();
    // Moves to the following / preceding entry; false at the end.
    bool next(CdxPosition& pos);
    bool prev(CdxPosition& pos);
    // Whether the leaf `pos` stands on still holds what was read into it.
    bool unchanged(const CdxPosition& pos);

    void insert(const std::string& key, uint32_t recno);
    bool erase(const std::string& key, uint32_t recno);   // false when absent

    // Writes a complete tree of `keys` (sorted) into freshly allocated pages
    // of `store`, in one pass: leaves packed full from left to right, then
    // each interior level. Returns the root's offset.
    static uint32_t build(PageStore& store, CdxKeyFormat format, const SortedKeys& keys);

private:
    // One node on the way down. Interior nodes are searched in their page
    // and decoded only when an update changes more than one slot's key.
    struct Step {
        uint32_t offset;
        CdxNode node;
        size_t index;
        bool decoded = true;
        CdxPage page {};
    };
    void decodeStep(Step& step);
    // Sets the key of slot `path[level].index` to (key, recno) in the raw
    // page, and upwards while it is the node's last slot.
    void patchSlot(std::vector<Step>& path, size_t level, const std::string& key, uint32_t recno);
    CdxNode readNode(uint32_t offset);
    CdxNode readNode(uint32_t offset, CdxPage& raw);
    void writeNode(uint32_t offset, const CdxNode& node);
    // Descends to the leaf for (key, recno); `clampToLast` follows the last
    // child when every entry is smaller (inserts), otherwise returns false.
    // `leafOnly` keeps just the leaf in `path` (seeks).
    bool descend(std::string_view key, uint32_t recno, bool clampToLast, std::vector<Step>& path, bool leafOnly = false);
    void commit(std::vector<Step>& path, size_t level);
    void checkOrder(const CdxEntry& before, const CdxEntry& after, uint32_t offset);
    CdxPosition edge(bool leftmost);

    PageStore& store_;
    CdxKeyFormat format_;
    uint32_t root_;
};

int comparePair(std::string_view aKey, uint32_t aRec, std::string_view bKey, uint32_t bRec);

}  // namespace xbase
