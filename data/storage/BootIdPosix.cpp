#include <fstream>
#include <string>

#include "data/storage/JournalFormat.h"

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
            const int v = hexDigit(c);
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

}  // namespace xbase
