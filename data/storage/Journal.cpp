#include "data/storage/Journal.h"

#include <array>
#include <atomic>
#include <cstring>

#include "data/storage/Bytes.h"
#include "data/storage/XbaseTable.h"

namespace xbase {
namespace {

std::atomic<uint64_t> g_replays{0};
constexpr uint8_t kMagic[4] = {'Q', 'Z', 'J', '1'};
constexpr size_t kHeaderSize = 32;
constexpr size_t kEntryHeader = 16;

void putLe64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint64_t le64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void apply(const std::vector<JournalWrite>& writes, PosixFile& table, PosixFile* index)
{
    bool touchedIndex = false;
    for (const JournalWrite& w : writes) {
        if (w.target == 1) {
            if (!index) throw XbaseError(kIoError, "journal names an index file that is not open");
            index->writeAt(w.offset, w.bytes);
            touchedIndex = true;
        } else {
            table.writeAt(w.offset, w.bytes);
        }
    }
    table.sync();
    if (touchedIndex) index->sync();
}

}  // namespace

uint64_t journalReplays() { return g_replays.load(); }

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc)
{
    // Slicing by eight: a journal entry holds whole index pages.
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

std::filesystem::path Journal::pathFor(const std::filesystem::path& dbfPath)
{
    std::filesystem::path p = dbfPath;
    p += ".qzj";
    return p;
}

PosixFile& Journal::file()
{
    if (!file_.isOpen()) {
        if (!openExisting()) {
            file_ = PosixFile::createOrTruncate(path_);
            syncDirectoryOf(path_);
        }
    }
    return file_;
}

bool Journal::openExisting()
{
    if (file_.isOpen()) return true;
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) return false;
    try {
        file_ = PosixFile::open(path_, true, kFileNotFound);
    } catch (const XbaseError&) {
        return false;
    }
    return file_.writable();
}

void Journal::commit(const std::vector<JournalWrite>& writes, PosixFile& table, PosixFile* index)
{
    size_t bodySize = 0;
    for (const JournalWrite& w : writes) bodySize += kEntryHeader + w.bytes.size();
    std::vector<uint8_t>& buffer = buffer_;
    buffer.resize(kHeaderSize + bodySize);
    uint8_t* p = buffer.data() + kHeaderSize;
    for (const JournalWrite& w : writes) {
        p[0] = w.target;
        p[1] = p[2] = p[3] = 0;
        bytes::putLe32(p + 4, uint32_t(w.bytes.size()));
        putLe64(p + 8, w.offset);
        std::memcpy(p + kEntryHeader, w.bytes.data(), w.bytes.size());
        p += kEntryHeader + w.bytes.size();
    }
    std::memcpy(buffer.data(), kMagic, 4);
    std::memset(buffer.data() + 4, 0, kHeaderSize - 4);
    bytes::putLe32(buffer.data() + 4, uint32_t(writes.size()));
    putLe64(buffer.data() + 8, bodySize);
    bytes::putLe32(buffer.data() + 16, crc32(buffer.data() + kHeaderSize, bodySize));
    bytes::putLe32(buffer.data() + 20, crc32(buffer.data(), 20));

    PosixFile& j = file();
    j.writeAt(0, buffer);
    j.sync();
    apply(writes, table, index);
    // Not synced: should the cleared mark be lost, replaying the journal
    // writes the same bytes again, which is harmless.
    invalidate(false);
}

void Journal::clear() { invalidate(true); }

void Journal::invalidate(bool sync)
{
    if (!openExisting()) return;
    static const uint8_t zeros[kHeaderSize] = {};
    file_.writeAt(0, std::span<const uint8_t>(zeros, kHeaderSize));
    if (sync) file_.sync();
}

bool Journal::pending()
{
    if (!openExisting()) return false;
    std::array<uint8_t, kHeaderSize> header {};
    if (file_.readAt(0, header) != kHeaderSize) return false;
    return std::memcmp(header.data(), kMagic, 4) == 0 && crc32(header.data(), 20) == bytes::le32(header.data() + 20);
}

bool Journal::recover(PosixFile& table, PosixFile* index)
{
    if (!openExisting()) return false;
    std::array<uint8_t, kHeaderSize> header {};
    if (file_.readAt(0, header) != kHeaderSize) return false;
    if (std::memcmp(header.data(), kMagic, 4) != 0) return false;
    if (crc32(header.data(), 20) != bytes::le32(header.data() + 20)) return false;
    const uint32_t count = bytes::le32(header.data() + 4);
    const uint64_t bodySize = le64(header.data() + 8);
    if (bodySize > file_.size() - kHeaderSize) return false;
    std::vector<uint8_t> body(bodySize);
    if (file_.readAt(kHeaderSize, body) != bodySize) return false;
    if (crc32(body.data(), body.size()) != bytes::le32(header.data() + 16)) return false;
    std::vector<JournalWrite> writes;
    size_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (pos + kEntryHeader > body.size()) return false;
        JournalWrite w;
        w.target = body[pos];
        const uint32_t length = bytes::le32(body.data() + pos + 4);
        w.offset = le64(body.data() + pos + 8);
        pos += kEntryHeader;
        if (length > body.size() - pos) return false;
        w.bytes.assign(body.begin() + std::ptrdiff_t(pos), body.begin() + std::ptrdiff_t(pos + length));
        pos += length;
        if (w.target == 1 && !index) return false;
        writes.push_back(std::move(w));
    }
    apply(writes, table, index);
    clear();
    ++g_replays;
    return true;
}

}  // namespace xbase
