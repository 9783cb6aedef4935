#include "ftp/socket/NetStack.h"

#include "ftp/NetExceptions.h"

namespace TNetStack {

bool IsDottedAddress(const std::string& name) {
    unsigned char parts[4];
    return ParseDottedAddress(name, parts);
}

bool ParseDottedAddress(const std::string& name, unsigned char out[4]) {
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t start = i;
        int value = 0;
        while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - start < 4) {
            value = value * 10 + (name[i] - '0');
            ++i;
        }
        std::size_t digits = i - start;
        if (digits == 0 || digits > 3 || value > 255) return false;
        out[parts] = static_cast<unsigned char>(value);
        ++parts;
        if (i == name.size()) return parts == 4;
        if (name[i] != '.' || parts == 4) return false;
        ++i;
    }
}

void RaiseSocketError(int errorNumber) { throw ENetSocketError(errorNumber); }

}  // namespace TNetStack
