#include "data/storage/DbfHeader.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "data/storage/Bytes.h"

namespace xbase {
namespace {

[[noreturn]] void corrupt(const std::string& fileName, const std::string& what)
{
    throw XbaseError(kCorruptTable, fileName + ": " + what);
}

constexpr size_t kDescriptorSize = 32;
constexpr size_t kBacklinkSize = 263;

}  // namespace

bool isKnownDbfVersion(uint8_t v)
{
    switch (v) {
    case 0x02: case 0x03: case 0x30: case 0x31: case 0x32: case 0x43: case 0x63:
    case 0x83: case 0x8B: case 0xCB: case 0xF5: case 0xFB:
        return true;
    default:
        return false;
    }
}

bool isVisualFoxProVersion(uint8_t v) { return v >= 0x30 && v <= 0x32; }

uint16_t DbfHeader::declaredHeaderLength(std::span<const uint8_t> first32)
{
    return first32.size() >= kFixedSize ? bytes::le16(first32.data() + 8) : 0;
}

DbfHeader DbfHeader::parse(std::span<const uint8_t> b, const std::string& fileName)
{
    if (b.size() < kFixedSize) corrupt(fileName, "file too short for a table header");
    DbfHeader h;
    h.version = b[0];
    if (!isKnownDbfVersion(h.version)) corrupt(fileName, "unknown table version byte " + std::to_string(h.version));
    h.recordCount = bytes::le32(b.data() + 4);
    h.headerLength = bytes::le16(b.data() + 8);
    h.recordLength = bytes::le16(b.data() + 10);
    h.flags = b[28];
    h.codePage = b[29];
    if (h.headerLength < kFixedSize + 1) corrupt(fileName, "header length " + std::to_string(h.headerLength) + " too small");
    if (h.recordLength < 2) corrupt(fileName, "record length " + std::to_string(h.recordLength) + " too small");
    if (b.size() < h.headerLength) corrupt(fileName, "header cut short: file has " + std::to_string(b.size()) +
                                                         " bytes, header length is " + std::to_string(h.headerLength));

    uint32_t offset = 1;
    size_t pos = kFixedSize;
    bool terminated = false;
    while (pos < h.headerLength) {
        if (b[pos] == 0x0D) {
            terminated = true;
            break;
        }
        if (pos + kDescriptorSize > h.headerLength) corrupt(fileName, "field descriptor " + std::to_string(h.fields.size() + 1) + " runs past the header length");
        const uint8_t* d = b.data() + pos;
        FieldInfo f;
        size_t n = 0;
        while (n < 11 && d[n] != 0) ++n;
        f.name.assign(reinterpret_cast<const char*>(d), n);
        if (f.name.empty()) corrupt(fileName, "field descriptor " + std::to_string(h.fields.size() + 1) + " has no name");
        f.type = char(d[11]);
        if (!std::isalnum(static_cast<unsigned char>(f.type)) && f.type != '@' && f.type != '+')
            corrupt(fileName, "field " + f.name + " has an invalid type byte");
        f.width = d[16];
        f.decimals = d[17];
        if (f.type == 'C' && !isVisualFoxProVersion(h.version) && f.decimals != 0) {
            // Clipper/Harbour: long character fields keep the width in bytes 16-17.
            f.width = bytes::le16(d + 16);
            f.decimals = 0;
        }
        if (f.width == 0) corrupt(fileName, "field " + f.name + " has width 0");
        f.offset = offset;
        offset += f.width;
        if (offset > h.recordLength) corrupt(fileName, "field widths exceed the record length " + std::to_string(h.recordLength));
        h.fields.push_back(std::move(f));
        pos += kDescriptorSize;
    }
    if (!terminated) corrupt(fileName, "field descriptors are not terminated by 0x0D within the header");
    if (h.fields.empty()) corrupt(fileName, "table has no fields");
    if (offset != h.recordLength)
        corrupt(fileName, "field widths sum to " + std::to_string(offset) + " but the record length is " + std::to_string(h.recordLength));
    return h;
}

void DbfHeader::stampDateAndCount(uint8_t* h, uint8_t version, uint32_t count)
{
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);   // the date as the users' clocks show it, as other xBase tools stamp it
    int year = tm.tm_year + 1900;
    h[1] = uint8_t(isVisualFoxProVersion(version) ? year % 100 : year - 1900);
    h[2] = uint8_t(tm.tm_mon + 1);
    h[3] = uint8_t(tm.tm_mday);
    bytes::putLe32(h + 4, count);
}

std::vector<uint8_t> DbfHeader::buildEmptyTable(const std::vector<FieldInfo>& fields, uint8_t version,
                                                const std::string& fileName)
{
    if (!isKnownDbfVersion(version)) throw XbaseError(kCorruptTable, fileName + ": unknown version byte for a new table");
    if (fields.empty()) throw XbaseError(kCorruptTable, fileName + ": a table needs at least one field");
    const bool vfp = isVisualFoxProVersion(version);
    size_t headerLength = kFixedSize + kDescriptorSize * fields.size() + 1 + (vfp ? kBacklinkSize : 0);
    if (headerLength > 0xFFFF) throw XbaseError(kCorruptTable, fileName + ": too many fields");
    std::vector<uint8_t> out(headerLength + 1, 0);
    uint32_t offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldInfo& f = fields[i];
        if (f.name.empty() || f.name.size() > 10) throw XbaseError(kCorruptTable, fileName + ": field name '" + f.name + "' must have 1 to 10 characters");
        if (f.width == 0 || f.width > 254) throw XbaseError(kCorruptTable, fileName + ": field " + f.name + " width must be 1 to 254");
        uint8_t* d = out.data() + kFixedSize + kDescriptorSize * i;
        for (size_t k = 0; k < f.name.size(); ++k) d[k] = uint8_t(std::toupper(static_cast<unsigned char>(f.name[k])));
        d[11] = uint8_t(std::toupper(static_cast<unsigned char>(f.type)));
        bytes::putLe32(d + 12, offset);
        d[16] = uint8_t(f.width);
        d[17] = f.decimals;
        offset += f.width;
    }
    if (offset > 0xFFFF) throw XbaseError(kCorruptTable, fileName + ": record too long");
    out[0] = version;
    stampDateAndCount(out.data(), version, 0);
    bytes::putLe16(out.data() + 8, uint16_t(headerLength));
    bytes::putLe16(out.data() + 10, uint16_t(offset));
    out[29] = 0x03;   // language driver: Windows ANSI (code page 1252), the text the table layer writes
    out[kFixedSize + kDescriptorSize * fields.size()] = 0x0D;
    out[headerLength] = 0x1A;
    return out;
}

}  // namespace xbase
