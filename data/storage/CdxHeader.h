#pragma once
// The 1024-byte header of a compact index: the file's tag directory at
// offset 0 and every tag's own header share this layout.
#include <array>
#include <cstdint>
#include <string>

namespace xbase {

constexpr uint32_t kCdxHeaderSize = 1024;

struct CdxHeader {
    std::array<uint8_t, kCdxHeaderSize> raw {};   // unknown bytes are kept as read

    uint32_t root() const;
    uint32_t freeList() const;
    uint32_t changeCounter() const;   // stored big-endian
    uint16_t keyLength() const;
    uint8_t options() const { return raw[14]; }
    bool descending() const;
    bool unique() const { return raw[14] & 0x01; }
    bool hasFor() const;
    std::string keyExpression() const;
    std::string forExpression() const;

    void setRoot(uint32_t offset);
    void setChangeCounter(uint32_t value);

    // Checks the fields readers rely on; throws kCorruptIndex.
    void validate(const std::string& fileName, uint32_t offset, uint64_t fileSize) const;

    static CdxHeader make(uint16_t keyLength, uint8_t options, const std::string& keyExpression, bool descending);
};

}  // namespace xbase
