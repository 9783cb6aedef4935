// The boot's name read once per process; the system's words for it come
// from BootIdSystem.
#include "data/storage/BootIdSystem.h"

namespace xbase {
namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

size_t BootIdSystem::hexBytes(std::string_view text, std::span<uint8_t> out)
{
    size_t n = 0;
    int high = -1;
    for (char c : text) {
        const int v = hexDigit(c);
        if (v < 0) continue;
        if (high < 0) {
            high = v;
            continue;
        }
        if (n == out.size()) return n + 1;
        out[n++] = uint8_t(high << 4 | v);
        high = -1;
    }
    return n;
}

const BootId& currentBootId()
{
    static const BootId id = BootIdSystem::read();
    return id;
}

}  // namespace xbase
