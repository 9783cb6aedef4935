#pragma once
// The journal side file as stored: a header block that names the current
// generation, then one record per update, each with its own checksums.
//
//   0     header (JournalHeader), rewritten only when the journal is emptied
//   4096  record, record, ...   (JournalRecordHeader, then the body)
//
// A record's body is its writes, each: target (1 byte: 0 table, 1 index),
// 3 zero bytes, length (4), file offset (8), the CRC32 of the bytes it
// replaces (4; bytes past the end of the file count as zeros), the bytes,
// then ("QZR4") the bytes it replaces, as many: a disk cut off by a power
// loss may keep some sectors of a write and not others, and recovery tells
// such a torn write of ours from another program's change sector by sector.
// Records of the earlier layouts ("QZR3" without the bytes replaced, "QZR2"
// without their CRC either) are still read.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace xbase {

struct JournalWrite {
    uint8_t target = 0;   // 0 table, 1 index
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
    uint32_t before = 0;      // CRC32 of the bytes it replaces (set when journalled)
    bool checked = true;      // false: written by an earlier release, no `before`
    std::vector<uint8_t> replaced {};   // the bytes it replaces (empty in records of earlier layouts)
};

using BootId = std::array<uint8_t, 16>;

// This machine's boot, as the system names it; all zeros when unknown
// (BootIdPosix.cpp, BootIdWindows.cpp).
const BootId& currentBootId();

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

struct JournalHeader {
    static constexpr size_t kSize = 64;
    static constexpr uint64_t kRecordsStart = 4096;

    uint64_t generation = 0;   // changes whenever the journal is emptied: older records are void

    std::array<uint8_t, kSize> serialize() const;
    static std::optional<JournalHeader> parse(std::span<const uint8_t> block);
};

struct JournalRecordHeader {
    static constexpr size_t kSize = 80;
    // The flag that says the record is written in place (1), or is to be
    // taken back (2): set after the commit, so the checksum does not cover it.
    static constexpr size_t kAppliedOffset = 64;

    uint8_t version = 4;       // 3: without the bytes replaced; 2: without their CRC either
    uint32_t count = 0;        // writes in the body
    uint64_t generation = 0;
    uint64_t seq = 0;          // 1, 2, ... within a generation
    uint64_t bodySize = 0;
    int64_t time = 0;          // when written (ns since 1970)
    BootId boot {};            // the boot in which it was written
    uint32_t bodyCrc = 0;
    bool applied = false;
    // Writing it in place failed and so did putting back what was written:
    // reported as failed, it is to be taken back, never finished.
    bool takeBack = false;

    uint64_t recordSize() const { return kSize + bodySize; }
    std::array<uint8_t, kSize> serialize() const;
    // Nothing when the magic or the checksum does not match.
    static std::optional<JournalRecordHeader> parse(std::span<const uint8_t> block);
};

size_t journalBodySize(const std::vector<JournalWrite>& writes);
void encodeJournalBody(const std::vector<JournalWrite>& writes, uint8_t* out);
// Nothing when the body does not hold `count` well-formed writes of the
// record layout `version`.
std::optional<std::vector<JournalWrite>> decodeJournalBody(std::span<const uint8_t> body, uint32_t count, uint8_t version = 4);

}  // namespace xbase
