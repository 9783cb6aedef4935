#include "data/storage/CdxTree.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "data/storage/Bytes.h"
#include "data/storage/XbaseTable.h"

namespace xbase {
namespace {

constexpr size_t kMaxDepth = 32;
constexpr size_t kLeafHeader = 24;

[[noreturn]] void corrupt(const std::string& fileName, const std::string& what)
{
    throw XbaseError(kCorruptIndex, fileName + ": " + what);
}

}  // namespace

int comparePair(std::string_view aKey, uint32_t aRec, std::string_view bKey, uint32_t bRec)
{
    // Unsigned byte order, as FoxPro's machine collation.
    const int c = aKey.compare(bKey);
    if (c != 0) return c < 0 ? -1 : 1;
    return aRec < bRec ? -1 : (aRec > bRec ? 1 : 0);
}

CdxNode CdxTree::readNode(uint32_t offset)
{
    return decodeNode(store_.readPage(offset), format_, store_.fileName(), offset);
}

CdxNode CdxTree::readNode(uint32_t offset, CdxPage& raw)
{
    raw = store_.readPage(offset);
    return decodeNode(raw, format_, store_.fileName(), offset);
}

bool CdxTree::unchanged(const CdxPosition& pos)
{
    return pos.leaf == kNoPage || store_.readPage(pos.leaf) == pos.page;
}

void CdxTree::writeNode(uint32_t offset, const CdxNode& node)
{
    auto page = encodeNode(node, format_);
    if (!page) throw XbaseError(kCorruptIndex, store_.fileName() + ": node does not fit in a page");
    store_.writePage(offset, *page);
}

bool CdxTree::descend(std::string_view key, uint32_t recno, bool clampToLast, std::vector<Step>& path, bool leafOnly)
{
    path.clear();
    uint32_t offset = root_;
    std::vector<uint32_t> visited;
    for (size_t depth = 0;; ++depth) {
        if (depth >= kMaxDepth) corrupt(store_.fileName(), "index tree deeper than " + std::to_string(kMaxDepth) + " levels (pointer loop?)");
        visited.push_back(offset);
        const CdxPage page = store_.readPage(offset);
        const bool leaf = bytes::le16(page.data()) & 2;
        if (!leaf) {
            // Interior nodes are searched in place, without decoding them.
            const uint16_t attributes = bytes::le16(page.data());
            const uint16_t count = bytes::le16(page.data() + 2);
            const size_t k = format_.keyLength;
            if (attributes > 7) corrupt(store_.fileName(), "index node at offset " + std::to_string(offset) + ": invalid node attributes " + std::to_string(attributes));
            if (count > interiorCapacity(format_.keyLength))
                corrupt(store_.fileName(), "index node at offset " + std::to_string(offset) + ": interior node claims " + std::to_string(count) + " keys");
            if (count == 0) corrupt(store_.fileName(), "interior node at offset " + std::to_string(offset) + " has no keys");
            size_t lo = 0, hi = count;
            while (lo < hi) {
                const size_t mid = (lo + hi) / 2;
                const uint8_t* e = page.data() + 12 + mid * (k + 8);
                const std::string_view entryKey(reinterpret_cast<const char*>(e), k);
                if (comparePair(entryKey, bytes::be32(e + k), key, recno) < 0) lo = mid + 1;
                else hi = mid;
            }
            if (lo == count) {
                if (!clampToLast) return false;
                lo = count - 1;
            }
            const uint32_t child = bytes::be32(page.data() + 12 + lo * (k + 8) + k + 4);
            if (std::find(visited.begin(), visited.end(), child) != visited.end())
                corrupt(store_.fileName(), "child pointer loop at offset " + std::to_string(child));
            if (!leafOnly) path.push_back({offset, CdxNode{}, lo, false, page});
            offset = child;
            continue;
        }
        CdxNode node = decodeNode(page, format_, store_.fileName(), offset);
        auto it = std::lower_bound(node.entries.begin(), node.entries.end(), 0, [&](const CdxEntry& e, int) {
            return comparePair(e.key, e.recno, key, recno) < 0;
        });
        size_t index = size_t(it - node.entries.begin());
        if (node.isLeaf()) {
            path.push_back({offset, std::move(node), index, true, page});
            return true;
        }
        if (node.entries.empty()) corrupt(store_.fileName(), "interior node at offset " + std::to_string(offset) + " has no keys");
        if (index == node.entries.size()) {
            if (!clampToLast) return false;
            index = node.entries.size() - 1;
        }
        uint32_t child = node.entries[index].child;
        if (std::find(visited.begin(), visited.end(), child) != visited.end())
            corrupt(store_.fileName(), "child pointer loop at offset " + std::to_string(child));
        path.push_back({offset, std::move(node), index});
        offset = child;
    }
}

void CdxTree::checkOrder(const CdxEntry& before, const CdxEntry& after, uint32_t offset)
{
    if (comparePair(before.key, before.recno, after.key, after.recno) >= 0)
        corrupt(store_.fileName(), "keys out of order at node " + std::to_string(offset) + " (sibling loop or damaged tree)");
}

std::optional<CdxPosition> CdxTree::lowerBound(std::string_view key, uint32_t recno)
{
    std::vector<Step> path;
    if (!descend(key, recno, false, path, true)) return std::nullopt;
    Step& leaf = path.back();
    CdxPosition pos{leaf.offset, leaf.index, std::move(leaf.node), leaf.page};
    if (pos.index < pos.node.entries.size()) return pos;
    // Past this leaf's last key: the answer is the first entry of the next leaf.
    if (pos.node.entries.empty() && pos.node.right == kNoPage) return std::nullopt;
    if (pos.node.entries.empty()) {
        pos.index = 0;
        // An empty leaf that is not the last: step to the right.
        uint32_t right = pos.node.right;
        pos.node = readNode(right, pos.page);
        pos.leaf = right;
        if (pos.node.entries.empty()) return std::nullopt;
        return pos;
    }
    pos.index = pos.node.entries.size() - 1;
    if (!next(pos)) return std::nullopt;
    return pos;
}

CdxPosition CdxTree::edge(bool leftmost)
{
    uint32_t offset = root_;
    for (size_t depth = 0;; ++depth) {
        if (depth >= kMaxDepth) corrupt(store_.fileName(), "index tree deeper than " + std::to_string(kMaxDepth) + " levels (pointer loop?)");
        CdxPage raw;
        CdxNode node = readNode(offset, raw);
        if (node.isLeaf()) {
            size_t index = leftmost || node.entries.empty() ? 0 : node.entries.size() - 1;
            return CdxPosition{offset, index, std::move(node), raw};
        }
        if (node.entries.empty()) corrupt(store_.fileName(), "interior node at offset " + std::to_string(offset) + " has no keys");
        uint32_t child = leftmost ? node.entries.front().child : node.entries.back().child;
        if (child == offset) corrupt(store_.fileName(), "child pointer loop at offset " + std::to_string(child));
        offset = child;
    }
}

std::optional<CdxPosition> CdxTree::first()
{
    CdxPosition pos = edge(true);
    if (pos.node.entries.empty()) return std::nullopt;
    return pos;
}

std::optional<CdxPosition> CdxTree::last()
{
    CdxPosition pos = edge(false);
    if (pos.node.entries.empty()) return std::nullopt;
    return pos;
}

bool CdxTree::next(CdxPosition& pos)
{
    if (pos.index + 1 < pos.node.entries.size()) {
        ++pos.index;
        return true;
    }
    CdxEntry current = pos.node.entries.empty() ? CdxEntry{} : pos.node.entries[pos.index];
    uint32_t offset = pos.node.right;
    uint64_t steps = 0;
    while (offset != kNoPage) {
        if (++steps > store_.pageCount() || offset == pos.leaf) corrupt(store_.fileName(), "sibling pointer loop at offset " + std::to_string(offset));
        CdxPage raw;
        CdxNode node = readNode(offset, raw);
        if (!node.isLeaf()) corrupt(store_.fileName(), "sibling of a leaf at offset " + std::to_string(offset) + " is not a leaf");
        if (!node.entries.empty()) {
            if (!pos.node.entries.empty()) checkOrder(current, node.entries.front(), offset);
            pos.leaf = offset;
            pos.node = std::move(node);
            pos.page = raw;
            pos.index = 0;
            return true;
        }
        // Skip empty leaves left behind by other writers (bounded by the order check above).
        uint32_t right = node.right;
        if (right == offset) corrupt(store_.fileName(), "sibling pointer loop at offset " + std::to_string(offset));
        pos.leaf = offset;
        pos.node = std::move(node);
        pos.page = raw;
        offset = right;
    }
    return false;
}

bool CdxTree::prev(CdxPosition& pos)
{
    if (pos.index > 0 && pos.index <= pos.node.entries.size()) {
        --pos.index;
        return true;
    }
    CdxEntry current = pos.node.entries.empty() ? CdxEntry{} : pos.node.entries[pos.index];
    bool haveCurrent = !pos.node.entries.empty();
    uint32_t offset = pos.node.left;
    size_t guard = 0;
    while (offset != kNoPage) {
        if (++guard > store_.pageCount() || offset == pos.leaf) corrupt(store_.fileName(), "sibling pointer loop at offset " + std::to_string(offset));
        CdxPage raw;
        CdxNode node = readNode(offset, raw);
        if (!node.isLeaf()) corrupt(store_.fileName(), "sibling of a leaf at offset " + std::to_string(offset) + " is not a leaf");
        if (!node.entries.empty()) {
            if (haveCurrent) checkOrder(node.entries.back(), current, offset);
            pos.leaf = offset;
            pos.index = node.entries.size() - 1;
            pos.node = std::move(node);
            pos.page = raw;
            return true;
        }
        uint32_t left = node.left;
        pos.leaf = offset;
        pos.node = std::move(node);
        pos.page = raw;
        offset = left;
    }
    return false;
}

void CdxTree::insert(const std::string& key, uint32_t recno)
{
    std::vector<Step> path;
    descend(key, recno, true, path);
    Step& leaf = path.back();
    leaf.node.entries.insert(leaf.node.entries.begin() + std::ptrdiff_t(leaf.index), CdxEntry{key, recno, 0});
    commit(path, path.size() - 1);
}

bool CdxTree::erase(const std::string& key, uint32_t recno)
{
    std::vector<Step> path;
    if (!descend(key, recno, false, path)) return false;
    Step& leaf = path.back();
    if (leaf.index >= leaf.node.entries.size()) return false;
    const CdxEntry& e = leaf.node.entries[leaf.index];
    if (e.recno != recno || e.key != key) return false;
    leaf.node.entries.erase(leaf.node.entries.begin() + std::ptrdiff_t(leaf.index));
    commit(path, path.size() - 1);
    return true;
}

void CdxTree::decodeStep(Step& step)
{
    if (step.decoded) return;
    step.node = decodeNode(step.page, format_, store_.fileName(), step.offset);
    if (step.index >= step.node.entries.size())
        corrupt(store_.fileName(), "interior node at offset " + std::to_string(step.offset) + " changed while it was updated");
    step.decoded = true;
}

void CdxTree::patchSlot(std::vector<Step>& path, size_t level, const std::string& key, uint32_t recno)
{
    for (;; --level) {
        Step& step = path[level];
        if (step.decoded) {
            // Reached a node this update already decoded: let commit finish.
            CdxEntry& slot = step.node.entries[step.index];
            if (slot.key == key && slot.recno == recno) return;
            slot.key = key;
            slot.recno = recno;
            commit(path, level);
            return;
        }
        const size_t k = format_.keyLength;
        uint8_t* e = step.page.data() + 12 + step.index * (k + 8);
        if (key.size() != k) corrupt(store_.fileName(), "key of the wrong length in an index update");
        if (std::memcmp(e, key.data(), k) == 0 && bytes::be32(e + k) == recno) return;
        std::memcpy(e, key.data(), k);
        bytes::putBe32(e + k, recno);
        store_.writePage(step.offset, step.page);
        const uint16_t count = bytes::le16(step.page.data() + 2);
        if (level == 0 || step.index + 1 != count) return;
    }
}

void CdxTree::commit(std::vector<Step>& path, size_t level)
{
    Step& step = path[level];
    CdxNode& node = step.node;

    if (node.entries.empty()) {
        if (level == 0) {
            node.attributes = 3;   // an empty tree is an empty root leaf
            writeNode(step.offset, node);
            return;
        }
        // Unlink the empty node from its level and drop it from the parent.
        if (node.left != kNoPage) {
            CdxNode l = readNode(node.left);
            l.right = node.right;
            writeNode(node.left, l);
        }
        if (node.right != kNoPage) {
            CdxNode r = readNode(node.right);
            r.left = node.left;
            writeNode(node.right, r);
        }
        Step& parent = path[level - 1];
        decodeStep(parent);
        parent.node.entries.erase(parent.node.entries.begin() + std::ptrdiff_t(parent.index));
        commit(path, level - 1);
        return;
    }

    if (auto page = encodeNode(node, format_)) {
        store_.writePage(step.offset, *page);
        if (level > 0) {
            Step& parent = path[level - 1];
            if (!parent.decoded) {
                patchSlot(path, level - 1, node.entries.back().key, node.entries.back().recno);
                return;
            }
            CdxEntry& slot = parent.node.entries[parent.index];
            const CdxEntry& greatest = node.entries.back();
            if (slot.key != greatest.key || slot.recno != greatest.recno) {
                slot.key = greatest.key;
                slot.recno = greatest.recno;
                commit(path, level - 1);
            }
        }
        return;
    }

    // Split: the lower part stays in place, the upper part moves to a new
    // page. Cut near the middle, moving outwards until both halves fit.
    const bool leaf = node.isLeaf();
    const size_t n = node.entries.size();
    CdxNode left, right;
    const uint32_t rightOffset = store_.allocatePage();
    bool found = false;
    for (size_t step_ = 0; step_ < n && !found; ++step_) {
        for (int sign : {-1, 1}) {
            const std::ptrdiff_t cut = std::ptrdiff_t(n / 2) + sign * std::ptrdiff_t(step_);
            if (cut < 1 || cut >= std::ptrdiff_t(n)) continue;
            left = CdxNode{};
            right = CdxNode{};
            left.attributes = right.attributes = leaf ? 2 : 0;
            left.entries.assign(node.entries.begin(), node.entries.begin() + cut);
            right.entries.assign(node.entries.begin() + cut, node.entries.end());
            left.left = node.left;
            left.right = rightOffset;
            right.left = step.offset;
            right.right = node.right;
            if (encodeNode(left, format_) && encodeNode(right, format_)) {
                found = true;
                break;
            }
        }
    }
    if (!found) throw XbaseError(kCorruptIndex, store_.fileName() + ": cannot split a node (key too long for the record numbers)");
    if (node.right != kNoPage) {
        CdxNode after = readNode(node.right);
        after.left = rightOffset;
        writeNode(node.right, after);
    }
    writeNode(step.offset, left);
    writeNode(rightOffset, right);
    CdxEntry leftTop{left.entries.back().key, left.entries.back().recno, step.offset};
    CdxEntry rightTop{right.entries.back().key, right.entries.back().recno, rightOffset};
    if (level == 0) {
        CdxNode root;
        root.attributes = 1;
        root.entries = {leftTop, rightTop};
        const uint32_t rootOffset = store_.allocatePage();
        writeNode(rootOffset, root);
        root_ = rootOffset;
        return;
    }
    Step& parent = path[level - 1];
    decodeStep(parent);
    parent.node.entries[parent.index] = leftTop;
    parent.node.entries.insert(parent.node.entries.begin() + std::ptrdiff_t(parent.index) + 1, rightTop);
    commit(path, level - 1);
}

uint32_t CdxTree::build(PageStore& store, CdxKeyFormat format, const SortedKeys& keys)
{
    const size_t n = keys.size();
    if (n == 0) {
        CdxNode root;
        root.attributes = 3;
        const uint32_t offset = store.allocatePage();
        store.writePage(offset, *encodeNode(root, format));
        return offset;
    }
    const size_t k = format.keyLength;
    if (keys.keyLength != k) throw XbaseError(kCorruptIndex, store.fileName() + ": keys of the wrong length for the tag");
    // One entry layout for every leaf, wide enough for the largest record
    // number (each leaf states its own layout, so readers take it as it is).
    auto bitsFor = [](uint32_t v) {
        unsigned bits = 0;
        for (; v; v >>= 1) ++bits;
        return bits;
    };
    const uint32_t maxRec = *std::max_element(keys.recnos.begin(), keys.recnos.end());
    const unsigned countBits = std::max(1u, bitsFor(uint32_t(k)));
    const unsigned nb = std::max(3u, (std::max(bitsFor(maxRec), 1u) + 2 * countBits + 7) / 8);
    if (nb > 4) throw XbaseError(kCorruptIndex, store.fileName() + ": key does not fit in a leaf");
    const unsigned rb = nb * 8 - 2 * countBits;
    const uint32_t recMask = rb >= 32 ? 0xFFFFFFFFu : ((1u << rb) - 1);
    const uint8_t countMask = uint8_t((1u << countBits) - 1);

    struct Built {
        uint32_t offset;
        CdxEntry top;
    };
    std::vector<Built> level;
    CdxPage page {};
    uint32_t offset = store.allocatePage(), left = kNoPage;
    size_t tablePos = kLeafHeader, keyEnd = kCdxPageSize, count = 0, last = 0;
    auto startLeaf = [&] {
        page.fill(0);
        bytes::putLe32(page.data() + 4, left);
        bytes::putLe32(page.data() + 14, recMask);
        page[18] = countMask;
        page[19] = countMask;
        page[20] = uint8_t(rb);
        page[21] = uint8_t(countBits);
        page[22] = uint8_t(countBits);
        page[23] = uint8_t(nb);
        tablePos = kLeafHeader;
        keyEnd = kCdxPageSize;
        count = 0;
    };
    auto finishLeaf = [&](uint32_t right) {
        bytes::putLe16(page.data(), right == kNoPage && left == kNoPage ? 3 : 2);
        bytes::putLe16(page.data() + 2, uint16_t(count));
        bytes::putLe32(page.data() + 8, right);
        bytes::putLe16(page.data() + 12, uint16_t(keyEnd - tablePos));
        store.writePage(offset, page);
        level.push_back({offset, CdxEntry{std::string(reinterpret_cast<const char*>(keys.key(last)), k), keys.recnos[last], offset}});
    };
    startLeaf();
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* key = keys.key(i);
        size_t trail = 0;
        while (trail < k && key[k - 1 - trail] == format.pad) ++trail;
        size_t dup = 0;
        if (count > 0) {
            const uint8_t* prev = keys.key(i - 1);
            while (dup < k - trail && prev[dup] == key[dup]) ++dup;
        }
        if (count > 0 && tablePos + nb + (k - dup - trail) > keyEnd) {
            const uint32_t next = store.allocatePage();
            finishLeaf(next);
            left = offset;
            offset = next;
            startLeaf();
            dup = 0;
        }
        const size_t stored = k - dup - trail;
        keyEnd -= stored;
        std::memcpy(page.data() + keyEnd, key + dup, stored);
        const uint64_t v = uint64_t(keys.recnos[i]) | (uint64_t(dup) << rb) | (uint64_t(trail) << (rb + countBits));
        for (unsigned b = 0; b < nb; ++b) page[tablePos + b] = uint8_t(v >> (8 * b));
        tablePos += nb;
        ++count;
        last = i;
    }
    finishLeaf(kNoPage);

    const size_t fanout = interiorCapacity(format.keyLength);
    while (level.size() > 1) {
        const size_t count = (level.size() + fanout - 1) / fanout;
        // Spread children evenly so no node is left nearly empty.
        std::vector<uint32_t> parents(count);
        for (auto& o : parents) o = store.allocatePage();
        std::vector<Built> upper;
        size_t pos = 0;
        for (size_t g = 0; g < count; ++g) {
            const size_t take = (level.size() - pos) / (count - g);
            CdxNode node;
            node.attributes = count == 1 ? 1 : 0;
            node.left = g == 0 ? kNoPage : parents[g - 1];
            node.right = g + 1 == count ? kNoPage : parents[g + 1];
            for (size_t i = 0; i < take; ++i) node.entries.push_back(level[pos + i].top);
            pos += take;
            auto page = encodeNode(node, format);
            if (!page) throw XbaseError(kCorruptIndex, store.fileName() + ": interior node overflow");
            store.writePage(parents[g], *page);
            const CdxEntry& top = node.entries.back();
            upper.push_back({parents[g], CdxEntry{top.key, top.recno, parents[g]}});
        }
        level = std::move(upper);
    }
    return level.front().offset;
}

}  // namespace xbase
