#include "data/storage/CdxHeader.h"

#include <algorithm>

#include "data/storage/Bytes.h"
#include "data/storage/CdxNode.h"
#include "data/storage/XbaseTable.h"

namespace xbase {
namespace {

std::string poolString(const std::array<uint8_t, kCdxHeaderSize>& raw, uint16_t start, uint16_t length)
{
    std::string s;
    for (size_t i = 512 + size_t(start); i < kCdxHeaderSize && i < 512 + size_t(start) + length; ++i) {
        if (raw[i] == 0) break;
        s.push_back(char(raw[i]));
    }
    return s;
}

}  // namespace

uint32_t CdxHeader::root() const { return bytes::le32(raw.data()); }
uint32_t CdxHeader::freeList() const { return bytes::le32(raw.data() + 4); }
uint32_t CdxHeader::changeCounter() const { return bytes::be32(raw.data() + 8); }
uint16_t CdxHeader::keyLength() const { return bytes::le16(raw.data() + 12); }
bool CdxHeader::descending() const { return bytes::le16(raw.data() + 502) != 0; }
bool CdxHeader::hasFor() const { return (raw[14] & 0x08) || !forExpression().empty(); }

std::string CdxHeader::keyExpression() const
{
    return poolString(raw, bytes::le16(raw.data() + 508), bytes::le16(raw.data() + 510));
}

std::string CdxHeader::forExpression() const
{
    return poolString(raw, bytes::le16(raw.data() + 504), bytes::le16(raw.data() + 506));
}

void CdxHeader::setRoot(uint32_t offset) { bytes::putLe32(raw.data(), offset); }
void CdxHeader::setChangeCounter(uint32_t value) { bytes::putBe32(raw.data() + 8, value); }

void CdxHeader::validate(const std::string& fileName, uint32_t offset, uint64_t fileSize) const
{
    auto fail = [&](const std::string& what) {
        throw XbaseError(kCorruptIndex, fileName + ": index header at offset " + std::to_string(offset) + ": " + what);
    };
    const uint16_t k = keyLength();
    if (k == 0 || k > 240) fail("invalid key length " + std::to_string(k));
    const uint32_t r = root();
    if (r % kCdxPageSize != 0 || r < kCdxHeaderSize || uint64_t(r) + kCdxPageSize > fileSize)
        fail("root pointer " + std::to_string(r) + " is outside the file");
}

CdxHeader CdxHeader::make(uint16_t keyLength, uint8_t options, const std::string& expr, bool descending)
{
    CdxHeader h;
    bytes::putLe16(h.raw.data() + 12, keyLength);
    h.raw[14] = options;
    h.raw[15] = 1;
    bytes::putLe16(h.raw.data() + 502, descending ? 1 : 0);
    const size_t exprLen = std::min<size_t>(expr.size(), 500);
    bytes::putLe16(h.raw.data() + 504, uint16_t(exprLen + 1));
    bytes::putLe16(h.raw.data() + 506, 1);
    bytes::putLe16(h.raw.data() + 508, 0);
    bytes::putLe16(h.raw.data() + 510, uint16_t(exprLen + 1));
    std::copy_n(expr.data(), exprLen, h.raw.data() + 512);
    return h;
}

}  // namespace xbase
