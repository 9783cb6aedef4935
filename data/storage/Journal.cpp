#include "data/storage/Journal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "data/storage/Bytes.h"
#include "data/storage/XbaseTable.h"

namespace xbase {
namespace {

std::atomic<uint64_t> g_replays{0};

constexpr uint8_t kMagic[4] = {'Q', 'Z', 'J', '2'};
constexpr uint32_t kVersion = 2;
constexpr uint8_t kRecordMagic[4] = {'Q', 'Z', 'R', '2'};
constexpr size_t kRecordHeader = 48;
constexpr size_t kEntryHeader = 16;
// The journal of earlier releases: one update, cleared after it.
constexpr uint8_t kLegacyMagic[4] = {'Q', 'Z', 'J', '1'};
constexpr size_t kLegacyHeader = 32;

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

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

uint64_t randomGeneration()
{
    std::random_device device;
    return (uint64_t(device()) << 32) | device();
}

JournalHeader freshHeader(uint64_t generation)
{
    JournalHeader h;
    h.generation = generation;
    h.boot = currentBootId();
    return h;
}

// After a restart the files may have lost what was written in place but
// not yet synced; within one boot the kernel still holds it.
bool sameBoot(const JournalHeader& h)
{
    static const BootId unknown {};
    return currentBootId() != unknown && h.boot == currentBootId();
}

bool unappliedInThisBoot(const JournalHeader& h) { return h.nextSeq - 1 > h.appliedSeq; }

size_t bodySize(const std::vector<JournalWrite>& writes)
{
    size_t size = 0;
    for (const JournalWrite& w : writes) size += kEntryHeader + w.bytes.size();
    return size;
}

void encodeBody(const std::vector<JournalWrite>& writes, uint8_t* p)
{
    for (const JournalWrite& w : writes) {
        p[0] = w.target;
        p[1] = p[2] = p[3] = 0;
        bytes::putLe32(p + 4, uint32_t(w.bytes.size()));
        putLe64(p + 8, w.offset);
        std::memcpy(p + kEntryHeader, w.bytes.data(), w.bytes.size());
        p += kEntryHeader + w.bytes.size();
    }
}

// Nothing when the body does not hold `count` well-formed entries.
std::optional<std::vector<JournalWrite>> decodeBody(std::span<const uint8_t> body, uint32_t count)
{
    std::vector<JournalWrite> writes;
    size_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (pos + kEntryHeader > body.size()) return std::nullopt;
        JournalWrite w;
        w.target = body[pos];
        const uint32_t length = bytes::le32(body.data() + pos + 4);
        w.offset = le64(body.data() + pos + 8);
        pos += kEntryHeader;
        if (length > body.size() - pos || w.target > 1) return std::nullopt;
        w.bytes.assign(body.begin() + std::ptrdiff_t(pos), body.begin() + std::ptrdiff_t(pos + length));
        pos += length;
        writes.push_back(std::move(w));
    }
    return writes;
}

// In the order given; nothing is synced here. Without an index file (it
// was deleted, to be built again from the records) only the table's part
// is written.
void apply(const std::vector<JournalWrite>& writes, PosixFile& table, PosixFile* index)
{
    for (const JournalWrite& w : writes) {
        if (w.target == 0) table.writeAt(w.offset, w.bytes);
        else if (index) index->writeAt(w.offset, w.bytes);
    }
}

void syncFiles(PosixFile& table, PosixFile* index)
{
    table.sync();
    if (index) index->sync();
}

}  // namespace

uint64_t journalReplays() { return g_replays.load(); }

const BootId& currentBootId()
{
    static const BootId id = [] {
        BootId b {};
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::string text;
        if (!std::getline(in, text)) return b;
        size_t n = 0;
        int high = -1;
        for (char c : text) {
            int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
            if (v < 0) continue;
            if (high < 0) {
                high = v;
                continue;
            }
            if (n == b.size()) return BootId {};
            b[n++] = uint8_t(high << 4 | v);
            high = -1;
        }
        return n == b.size() ? b : BootId {};
    }();
    return id;
}

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc)
{
    // Slicing by eight: a journal record holds whole index pages.
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
    putLe64(b.data() + 8, generation);
    putLe64(b.data() + 16, appliedSeq);
    putLe64(b.data() + 24, endOffset);
    putLe64(b.data() + 32, nextSeq);
    putLe64(b.data() + 40, uint64_t(firstRecordTime));
    std::copy(boot.begin(), boot.end(), b.begin() + 48);
    bytes::putLe32(b.data() + kSize - 4, crc32(b.data(), kSize - 4));
    return b;
}

std::optional<JournalHeader> JournalHeader::parse(std::span<const uint8_t> b)
{
    if (b.size() < kSize || std::memcmp(b.data(), kMagic, 4) != 0 || bytes::le32(b.data() + 4) != kVersion) return std::nullopt;
    if (crc32(b.data(), kSize - 4) != bytes::le32(b.data() + kSize - 4)) return std::nullopt;
    JournalHeader h;
    h.generation = le64(b.data() + 8);
    h.appliedSeq = le64(b.data() + 16);
    h.endOffset = le64(b.data() + 24);
    h.nextSeq = le64(b.data() + 32);
    h.firstRecordTime = int64_t(le64(b.data() + 40));
    std::copy(b.begin() + 48, b.begin() + 64, h.boot.begin());
    if (h.endOffset < kRecordsStart || h.nextSeq == 0 || h.appliedSeq >= h.nextSeq) return std::nullopt;
    return h;
}

std::filesystem::path Journal::pathFor(const std::filesystem::path& dbfPath)
{
    std::filesystem::path p = dbfPath;
    p += ".qzj";
    return p;
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

PosixFile& Journal::openOrCreate()
{
    if (room_ >= kCapacity) return file_;
    if (!openExisting()) {
        file_ = PosixFile::createOrTruncate(path_);
        writeHeader(freshHeader(randomGeneration()));
        syncDirectoryOf(path_);
    }
    // Written once with zeros, so that a commit overwrites blocks the file
    // already has and its sync need not wait for the file system's own
    // journal.
    room_ = file_.size();
    if (room_ < kCapacity) {
        file_.writeAt(room_, std::vector<uint8_t>(kCapacity - room_));
        file_.sync();
        room_ = kCapacity;
    }
    return file_;
}

std::optional<JournalHeader> Journal::readHeader()
{
    if (!openExisting()) return std::nullopt;
    std::array<uint8_t, JournalHeader::kSize> block {};
    if (file_.readAt(0, block) != block.size()) return std::nullopt;
    return JournalHeader::parse(block);
}

void Journal::writeHeader(const JournalHeader& header) { file_.writeAt(0, header.serialize()); }

bool Journal::recoverLegacy(PosixFile& table, PosixFile* index)
{
    uint8_t h[kLegacyHeader] = {};
    if (file_.readAt(0, h) != kLegacyHeader || std::memcmp(h, kLegacyMagic, 4) != 0) return false;
    if (crc32(h, 20) != bytes::le32(h + 20)) return false;
    const uint64_t size = le64(h + 8);
    const bool complete = size <= file_.size() - kLegacyHeader;
    std::vector<uint8_t> body(complete ? size : 0);
    std::optional<std::vector<JournalWrite>> writes;
    if (complete && file_.readAt(kLegacyHeader, body) == size && crc32(body.data(), body.size()) == bytes::le32(h + 16))
        writes = decodeBody(body, bytes::le32(h + 4));
    if (writes) {
        apply(*writes, table, index);
        syncFiles(table, index);
        ++g_replays;
    }
    writeHeader(freshHeader(randomGeneration()));
    file_.sync();
    return writes.has_value();
}

bool Journal::pending()
{
    if (!openExisting()) return false;
    std::array<uint8_t, JournalHeader::kSize> block {};
    const size_t got = file_.readAt(0, block);
    if (got >= kLegacyHeader && std::memcmp(block.data(), kLegacyMagic, 4) == 0)
        return crc32(block.data(), 20) == bytes::le32(block.data() + 20);
    const auto h = JournalHeader::parse(std::span<const uint8_t>(block.data(), got));
    if (!h || !h->holdsRecords()) return false;
    return !sameBoot(*h) || unappliedInThisBoot(*h);
}

bool Journal::recover(PosixFile& table, PosixFile* index)
{
    if (!openExisting()) return false;
    std::array<uint8_t, JournalHeader::kSize> block {};
    const size_t got = file_.readAt(0, block);
    if (got >= kLegacyHeader && std::memcmp(block.data(), kLegacyMagic, 4) == 0) return recoverLegacy(table, index);
    const std::optional<JournalHeader> read = JournalHeader::parse(std::span<const uint8_t>(block.data(), got));
    if (!read || !read->holdsRecords()) return false;
    JournalHeader h = *read;
    const bool same = sameBoot(h);
    const uint64_t size = file_.size();
    if (same && !unappliedInThisBoot(h) && h.endOffset <= size) return false;

    std::vector<uint8_t> area(std::min(h.endOffset, std::max(size, JournalHeader::kRecordsStart)) - JournalHeader::kRecordsStart);
    area.resize(file_.readAt(JournalHeader::kRecordsStart, area));
    size_t pos = 0;
    uint64_t seq = 0;
    bool wrote = false;
    // Records follow each other up to the header's end; one that does not
    // check out was never confirmed, and nothing after it counts.
    while (pos + kRecordHeader <= area.size()) {
        const uint8_t* r = area.data() + pos;
        if (std::memcmp(r, kRecordMagic, 4) != 0 || crc32(r, 40) != bytes::le32(r + 40)) break;
        if (le64(r + 8) != h.generation || le64(r + 16) != seq + 1) break;
        const uint64_t size = le64(r + 24);
        if (size > area.size() - pos - kRecordHeader) break;
        const std::span<const uint8_t> body(r + kRecordHeader, size);
        if (crc32(body.data(), body.size()) != bytes::le32(r + 32)) break;
        const auto writes = decodeBody(body, bytes::le32(r + 4));
        if (!writes) break;
        ++seq;
        if (!same || seq > h.appliedSeq) {
            apply(*writes, table, index);
            wrote = true;
        }
        pos += kRecordHeader + size;
    }
    if (wrote) ++g_replays;
    if (!same) {
        // What reached the files before the restart is not known: make all
        // of it durable now, so no later open writes it again.
        syncFiles(table, index);
        writeHeader(freshHeader(h.generation + 1));
        file_.sync();
        return wrote;
    }
    h.endOffset = JournalHeader::kRecordsStart + pos;
    h.nextSeq = seq + 1;
    h.appliedSeq = seq;
    writeHeader(h);
    return wrote;
}

void Journal::checkpoint(PosixFile& table, PosixFile* index)
{
    if (!openExisting()) return;
    // A dead writer's update goes in place before the journal lets go of it.
    recover(table, index);
    const std::optional<JournalHeader> h = readHeader();
    if (h && !h->holdsRecords()) return;
    syncFiles(table, index);
    writeHeader(freshHeader(h ? h->generation + 1 : randomGeneration()));
    file_.sync();
}

void Journal::makeRoomFor(uint64_t recordSize, JournalHeader& h, PosixFile& table, PosixFile* index)
{
    const int64_t now = nowNs();
    // Another process may have made the file larger.
    if (h.endOffset + recordSize > room_) room_ = file_.size();
    const uint64_t room = room_;
    if (h.holdsRecords() && (h.endOffset + recordSize > room || now - h.firstRecordTime > kMaxAgeNs)) {
        // A checkpoint: the updates so far are synced in place, and the next
        // record starts a new generation, which voids the older ones. The
        // new header is synced together with that record.
        syncFiles(table, index);
        h = freshHeader(h.generation + 1);
    }
    if (h.endOffset + recordSize > room) {
        const uint64_t needed = (h.endOffset + recordSize + 65535) / 65536 * 65536;
        file_.writeAt(room, std::vector<uint8_t>(needed - room));
        room_ = needed;
    }
}

void Journal::commit(const std::vector<JournalWrite>& writes, PosixFile& table, PosixFile* index)
{
    for (const JournalWrite& w : writes)
        if (w.target == 1 && !index) throw XbaseError(kIoError, "journal names an index file that is not open");
    PosixFile& j = openOrCreate();
    std::optional<JournalHeader> read = readHeader();
    // The caller has recovered; this catches an earlier-format journal left
    // since, or one this process could not finish.
    if (!read || read->endOffset > room_ || (read->holdsRecords() && (!sameBoot(*read) || unappliedInThisBoot(*read)))) {
        recover(table, index);
        read = readHeader();
    }
    JournalHeader h = read ? *read : freshHeader(randomGeneration());

    const size_t body = bodySize(writes);
    const uint64_t recordSize = kRecordHeader + body;
    makeRoomFor(recordSize, h, table, index);
    const uint64_t seq = h.nextSeq;
    buffer_.assign(recordSize, 0);
    uint8_t* r = buffer_.data();
    std::memcpy(r, kRecordMagic, 4);
    bytes::putLe32(r + 4, uint32_t(writes.size()));
    putLe64(r + 8, h.generation);
    putLe64(r + 16, seq);
    putLe64(r + 24, body);
    encodeBody(writes, r + kRecordHeader);
    bytes::putLe32(r + 32, crc32(r + kRecordHeader, body));
    bytes::putLe32(r + 40, crc32(r, 40));
    j.writeAt(h.endOffset, buffer_);

    h.endOffset += recordSize;
    h.nextSeq = seq + 1;
    if (h.firstRecordTime == 0) h.firstRecordTime = nowNs();
    h.boot = currentBootId();
    writeHeader(h);
    j.sync();   // the update is committed

    apply(writes, table, index);
    h.appliedSeq = seq;
    writeHeader(h);
    // Where one boot cannot be told from the next, a later open could not
    // tell whether the kernel still holds what was written in place: sync
    // it now, as the journal would otherwise be needed for every update.
    if (currentBootId() == BootId {}) checkpoint(table, index);
}

}  // namespace xbase
