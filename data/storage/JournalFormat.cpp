#include "data/storage/JournalFormat.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "data/storage/Bytes.h"

namespace xbase {
namespace {

constexpr uint8_t kMagic[4] = {'Q', 'Z', 'J', '2'};
constexpr uint32_t kVersion = 2;
constexpr uint8_t kRecordMagic[4] = {'Q', 'Z', 'R', '4'};
constexpr uint8_t kWithoutReplacedMagic[4] = {'Q', 'Z', 'R', '3'};
constexpr uint8_t kEarlierRecordMagic[4] = {'Q', 'Z', 'R', '2'};
constexpr size_t kEntryHeader = 20;
constexpr size_t kEarlierEntryHeader = 16;

}  // namespace

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc)
{
    // Slicing by eight: a little faster than zlib's crc32 on the small
    // pieces of one update, as fast on a batch (bench/storage/Crc32Bench).
    using Tables = std::array<std::array<uint32_t, 256>, 8>;
    static const Tables t = [] {
        Tables x {};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            x[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (size_t s = 1; s < 8; ++s) x[s][i] = (x[s - 1][i] >> 8) ^ x[0][x[s - 1][i] & 0xFF];
        return x;
    }();
    crc = ~crc;
    for (; length >= 8; data += 8, length -= 8) {
        const uint32_t lo = crc ^ (uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][data[4]] ^
              t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    }
    for (; length > 0; ++data, --length) crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::array<uint8_t, JournalHeader::kSize> JournalHeader::serialize() const
{
    std::array<uint8_t, kSize> b {};
    std::memcpy(b.data(), kMagic, 4);
    bytes::putLe32(b.data() + 4, kVersion);
    bytes::putLe64(b.data() + 8, generation);
    bytes::putLe32(b.data() + kSize - 4, crc32(b.data(), kSize - 4));
    return b;
}

std::optional<JournalHeader> JournalHeader::parse(std::span<const uint8_t> b)
{
    if (b.size() < kSize || std::memcmp(b.data(), kMagic, 4) != 0 || bytes::le32(b.data() + 4) != kVersion) return std::nullopt;
    if (crc32(b.data(), kSize - 4) != bytes::le32(b.data() + kSize - 4)) return std::nullopt;
    JournalHeader h;
    h.generation = bytes::le64(b.data() + 8);
    return h;
}

std::array<uint8_t, JournalRecordHeader::kSize> JournalRecordHeader::serialize() const
{
    std::array<uint8_t, kSize> b {};
    std::memcpy(b.data(), version == 2 ? kEarlierRecordMagic : version == 3 ? kWithoutReplacedMagic : kRecordMagic, 4);
    bytes::putLe32(b.data() + 4, count);
    bytes::putLe64(b.data() + 8, generation);
    bytes::putLe64(b.data() + 16, seq);
    bytes::putLe64(b.data() + 24, bodySize);
    bytes::putLe64(b.data() + 32, uint64_t(time));
    std::copy(boot.begin(), boot.end(), b.begin() + 40);
    bytes::putLe32(b.data() + 56, bodyCrc);
    bytes::putLe32(b.data() + 60, crc32(b.data(), 60));
    b[kAppliedOffset] = applied ? 1 : takeBack ? 2 : 0;
    return b;
}

std::optional<JournalRecordHeader> JournalRecordHeader::parse(std::span<const uint8_t> b)
{
    if (b.size() < kSize) return std::nullopt;
    uint8_t version = 0;
    if (std::memcmp(b.data(), kRecordMagic, 4) == 0) version = 4;
    else if (std::memcmp(b.data(), kWithoutReplacedMagic, 4) == 0) version = 3;
    else if (std::memcmp(b.data(), kEarlierRecordMagic, 4) == 0) version = 2;
    else return std::nullopt;
    if (crc32(b.data(), 60) != bytes::le32(b.data() + 60)) return std::nullopt;
    JournalRecordHeader h;
    h.version = version;
    h.count = bytes::le32(b.data() + 4);
    h.generation = bytes::le64(b.data() + 8);
    h.seq = bytes::le64(b.data() + 16);
    h.bodySize = bytes::le64(b.data() + 24);
    h.time = int64_t(bytes::le64(b.data() + 32));
    std::copy(b.begin() + 40, b.begin() + 56, h.boot.begin());
    h.bodyCrc = bytes::le32(b.data() + 56);
    h.applied = b[kAppliedOffset] == 1;
    h.takeBack = b[kAppliedOffset] == 2;
    return h;
}

size_t journalBodySize(const std::vector<JournalWrite>& writes)
{
    size_t size = 0;
    for (const JournalWrite& w : writes) size += kEntryHeader + 2 * w.bytes.size();
    return size;
}

void encodeJournalBody(const std::vector<JournalWrite>& writes, uint8_t* p)
{
    for (const JournalWrite& w : writes) {
        p[0] = w.target;
        p[1] = p[2] = p[3] = 0;
        bytes::putLe32(p + 4, uint32_t(w.bytes.size()));
        bytes::putLe64(p + 8, w.offset);
        bytes::putLe32(p + 16, w.before);
        std::memcpy(p + kEntryHeader, w.bytes.data(), w.bytes.size());
        // The bytes replaced, zeros past the file's end (as for their CRC).
        std::memset(p + kEntryHeader + w.bytes.size(), 0, w.bytes.size());
        std::memcpy(p + kEntryHeader + w.bytes.size(), w.replaced.data(), std::min(w.replaced.size(), w.bytes.size()));
        p += kEntryHeader + 2 * w.bytes.size();
    }
}

std::optional<std::vector<JournalWrite>> decodeJournalBody(std::span<const uint8_t> body, uint32_t count, uint8_t version)
{
    std::vector<JournalWrite> writes;
    const size_t entryHeader = version == 2 ? kEarlierEntryHeader : kEntryHeader;
    size_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (entryHeader > body.size() - pos) return std::nullopt;
        JournalWrite w;
        w.target = body[pos];
        const uint32_t length = bytes::le32(body.data() + pos + 4);
        w.offset = bytes::le64(body.data() + pos + 8);
        w.checked = version != 2;
        if (w.checked) w.before = bytes::le32(body.data() + pos + 16);
        pos += entryHeader;
        if (length > body.size() - pos || w.target > 1) return std::nullopt;
        w.bytes.assign(body.begin() + std::ptrdiff_t(pos), body.begin() + std::ptrdiff_t(pos + length));
        pos += length;
        if (version >= 4) {
            if (length > body.size() - pos) return std::nullopt;
            w.replaced.assign(body.begin() + std::ptrdiff_t(pos), body.begin() + std::ptrdiff_t(pos + length));
            pos += length;
        }
        writes.push_back(std::move(w));
    }
    return writes;
}

}  // namespace xbase
