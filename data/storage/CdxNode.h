#pragma once
// One 512-byte CDX node decoded into full keys, and encoded back: interior
// nodes hold full keys with big-endian record numbers and child offsets;
// leaves hold compressed keys (duplicate-prefix and trailing-pad counts).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xbase {

constexpr uint32_t kCdxPageSize = 512;
constexpr uint32_t kNoPage = 0xFFFFFFFF;
using CdxPage = std::array<uint8_t, kCdxPageSize>;

struct CdxEntry {
    std::string key;        // full key, keyLength bytes
    uint32_t recno = 0;     // record number (directory: tag header offset)
    uint32_t child = 0;     // interior nodes only
};

struct CdxNode {
    uint16_t attributes = 0;   // bit 0 root, bit 1 leaf
    uint32_t left = kNoPage;
    uint32_t right = kNoPage;
    std::vector<CdxEntry> entries;

    bool isLeaf() const { return attributes & 2; }
    bool isRoot() const { return attributes & 1; }
};

struct CdxKeyFormat {
    uint16_t keyLength = 0;
    uint8_t pad = 0x20;
};

// Throws XbaseError(kCorruptIndex) naming `fileName` and the node offset.
CdxNode decodeNode(const CdxPage& page, const CdxKeyFormat& format, const std::string& fileName, uint32_t offset);
// nullopt when the entries do not fit in one node.
std::optional<CdxPage> encodeNode(const CdxNode& node, const CdxKeyFormat& format);
size_t interiorCapacity(uint16_t keyLength);

}  // namespace xbase
