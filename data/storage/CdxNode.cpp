#include "data/storage/CdxNode.h"

#include <algorithm>

#include "data/storage/Bytes.h"
#include "data/storage/XbaseTable.h"

namespace xbase {
namespace {

constexpr size_t kNodeHeader = 12;
constexpr size_t kLeafHeader = 24;

[[noreturn]] void corrupt(const std::string& fileName, uint32_t offset, const std::string& what)
{
    throw XbaseError(kCorruptIndex, fileName + ": index node at offset " + std::to_string(offset) + ": " + what);
}

uint8_t bitsFor(uint32_t value)
{
    uint8_t bits = 0;
    while (value) {
        ++bits;
        value >>= 1;
    }
    return bits;
}

}  // namespace

size_t interiorCapacity(uint16_t keyLength) { return (kCdxPageSize - kNodeHeader) / (size_t(keyLength) + 8); }

CdxNode decodeNode(const CdxPage& p, const CdxKeyFormat& f, const std::string& fileName, uint32_t offset)
{
    CdxNode node;
    node.attributes = bytes::le16(p.data());
    uint16_t count = bytes::le16(p.data() + 2);
    node.left = bytes::le32(p.data() + 4);
    node.right = bytes::le32(p.data() + 8);
    if (node.attributes > 7) corrupt(fileName, offset, "invalid node attributes " + std::to_string(node.attributes));
    const size_t k = f.keyLength;
    node.entries.reserve(count);
    if (!node.isLeaf()) {
        if (count > interiorCapacity(f.keyLength)) corrupt(fileName, offset, "interior node claims " + std::to_string(count) + " keys");
        const uint8_t* e = p.data() + kNodeHeader;
        for (uint16_t i = 0; i < count; ++i, e += k + 8) {
            CdxEntry entry;
            entry.key.assign(reinterpret_cast<const char*>(e), k);
            entry.recno = bytes::be32(e + k);
            entry.child = bytes::be32(e + k + 4);
            node.entries.push_back(std::move(entry));
        }
        return node;
    }
    const uint32_t recMask = bytes::le32(p.data() + 14);
    const uint8_t dupMask = p[18], trailMask = p[19];
    const uint8_t rb = p[20], db = p[21], tb = p[22], nb = p[23];
    if (nb < 1 || nb > 4 || rb + db + tb > nb * 8 || rb == 0 || rb > 32 || db > 8 || tb > 8)
        corrupt(fileName, offset, "invalid leaf entry layout");
    if (size_t(count) * nb > kCdxPageSize - kLeafHeader) corrupt(fileName, offset, "leaf claims " + std::to_string(count) + " keys");
    size_t keyEnd = kCdxPageSize;
    const size_t tableEnd = kLeafHeader + size_t(count) * nb;
    std::string prev(k, char(f.pad));
    for (uint16_t i = 0; i < count; ++i) {
        uint64_t v = 0;
        for (int b = nb - 1; b >= 0; --b) v = (v << 8) | p[kLeafHeader + size_t(i) * nb + size_t(b)];
        CdxEntry entry;
        entry.recno = uint32_t(v & recMask);
        size_t dup = size_t((v >> rb) & dupMask);
        size_t trail = size_t((v >> (rb + db)) & trailMask);
        if (dup + trail > k) corrupt(fileName, offset, "leaf entry " + std::to_string(i + 1) + " has inconsistent counts");
        if (i == 0 && dup != 0) dup = std::min(dup, k - trail);   // tolerated; the previous key is the pad
        size_t stored = k - dup - trail;
        if (stored > keyEnd - tableEnd) corrupt(fileName, offset, "leaf key bytes overlap the entry table");
        keyEnd -= stored;
        entry.key.reserve(k);
        entry.key.append(prev, 0, dup);
        entry.key.append(reinterpret_cast<const char*>(p.data() + keyEnd), stored);
        entry.key.append(trail, char(f.pad));
        prev = entry.key;
        node.entries.push_back(std::move(entry));
    }
    return node;
}

std::optional<CdxPage> encodeNode(const CdxNode& node, const CdxKeyFormat& f)
{
    CdxPage p {};
    const size_t k = f.keyLength;
    bytes::putLe16(p.data(), node.attributes);
    bytes::putLe16(p.data() + 2, uint16_t(node.entries.size()));
    bytes::putLe32(p.data() + 4, node.left);
    bytes::putLe32(p.data() + 8, node.right);
    if (!node.isLeaf()) {
        if (node.entries.size() > interiorCapacity(f.keyLength)) return std::nullopt;
        uint8_t* e = p.data() + kNodeHeader;
        for (const CdxEntry& entry : node.entries) {
            std::copy_n(entry.key.data(), k, e);
            bytes::putBe32(e + k, entry.recno);
            bytes::putBe32(e + k + 4, entry.child);
            e += k + 8;
        }
        return p;
    }
    const uint8_t countBits = std::max<uint8_t>(1, bitsFor(uint32_t(k)));
    uint32_t maxRec = 0;
    for (const CdxEntry& e : node.entries) maxRec = std::max(maxRec, e.recno);
    const unsigned needed = std::max<unsigned>(bitsFor(maxRec), 1) + 2u * countBits;
    unsigned nb = std::max<unsigned>(3, (needed + 7) / 8);
    if (nb > 4) return std::nullopt;
    const uint8_t rb = uint8_t(nb * 8 - 2 * countBits);
    const uint32_t recMask = rb >= 32 ? 0xFFFFFFFFu : ((1u << rb) - 1);
    const uint8_t countMask = uint8_t((1u << countBits) - 1);
    bytes::putLe32(p.data() + 14, recMask);
    p[18] = countMask;
    p[19] = countMask;
    p[20] = rb;
    p[21] = countBits;
    p[22] = countBits;
    p[23] = uint8_t(nb);
    size_t keyEnd = kCdxPageSize;
    size_t tablePos = kLeafHeader;
    const std::string* prev = nullptr;
    for (const CdxEntry& e : node.entries) {
        size_t trail = 0;
        while (trail < k && uint8_t(e.key[k - 1 - trail]) == f.pad) ++trail;
        size_t dup = 0;
        if (prev) {
            const size_t limit = k - trail;
            while (dup < limit && (*prev)[dup] == e.key[dup]) ++dup;
        }
        const size_t stored = k - dup - trail;
        if (tablePos + nb + stored > keyEnd) return std::nullopt;
        keyEnd -= stored;
        std::copy_n(e.key.data() + dup, stored, p.data() + keyEnd);
        uint64_t v = uint64_t(e.recno) | (uint64_t(dup) << rb) | (uint64_t(trail) << (rb + countBits));
        for (unsigned b = 0; b < nb; ++b) p[tablePos + b] = uint8_t(v >> (8 * b));
        tablePos += nb;
        prev = &e.key;
    }
    bytes::putLe16(p.data() + 12, uint16_t(keyEnd - tablePos));
    return p;
}

}  // namespace xbase
