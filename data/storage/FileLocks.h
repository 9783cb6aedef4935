#pragma once
// Lock offsets shared with FoxPro-compatible xBase tools. A table whose
// header announces a structural index uses the scheme counted down from
// 0x7FFFFFFE; a table without one locks 0x40000000 + the record's file offset.
#include <cstdint>

namespace xbase::locks {

constexpr uint64_t kCdxSchemeBase = 0x7FFFFFFE;
constexpr uint64_t kPlainSchemeBase = 0x40000000;
constexpr uint64_t kIndexLockOffset = 0x7FFFFFFE;   // in the .CDX file

struct Scheme {
    bool cdx = true;
    uint32_t headerLength = 0;
    uint32_t recordLength = 0;

    uint64_t headerLock() const { return cdx ? kCdxSchemeBase : kPlainSchemeBase; }
    uint64_t recordLock(uint32_t recno) const
    {
        return cdx ? kCdxSchemeBase - recno
                   : kPlainSchemeBase + headerLength + uint64_t(recno - 1) * recordLength;
    }
};

}  // namespace xbase::locks
