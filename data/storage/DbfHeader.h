#pragma once
// The fixed part of a DBF file: the 32-byte header and the field
// descriptors, read with every check readers rely on, and written for new
// tables in the dBASE III / FoxPro 2.x or Visual FoxPro layout.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "data/storage/XbaseTable.h"

namespace xbase {

struct DbfHeader {
    uint8_t version = 0x03;
    uint32_t recordCount = 0;
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    uint8_t flags = 0;       // byte 28: 0x01 structural index
    uint8_t codePage = 0;
    std::vector<FieldInfo> fields;

    static constexpr size_t kFixedSize = 32;
    static constexpr uint32_t kCountOffset = 4;

    // `bytes` starts at file offset 0 and holds at least the header length
    // (or the whole file when shorter); `fileName` names the file in errors.
    static DbfHeader parse(std::span<const uint8_t> bytes, const std::string& fileName);
    // Header length a parse needs, read from bytes 8-9 of the first 32.
    static uint16_t declaredHeaderLength(std::span<const uint8_t> first32);

    // Bytes of a new empty table (header, descriptors, terminator, backlink
    // for VFP, and the end-of-file marker).
    static std::vector<uint8_t> buildEmptyTable(const std::vector<FieldInfo>& fields, uint8_t version,
                                                const std::string& fileName);
    // Bytes 1-7 (update date and record count) as of today.
    static void stampDateAndCount(uint8_t* header8, uint8_t version, uint32_t count);
};

bool isKnownDbfVersion(uint8_t version);
bool isVisualFoxProVersion(uint8_t version);

}  // namespace xbase
