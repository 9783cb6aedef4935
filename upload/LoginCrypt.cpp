#include "upload/LoginCrypt.h"

#include <cstddef>

namespace {

std::string Shift(std::string_view text, int direction) {
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int position = static_cast<int>(i % 256) + 1;
        const int code = static_cast<unsigned char>(text[i]);
        // Unsigned byte arithmetic wraps below 0 back to 255.
        const int shifted = (code + direction * (position + kLoginScrambleOffset)) & 0xFF;
        out[i] = static_cast<char>(static_cast<unsigned char>(shifted));
    }
    return out;
}

}  // namespace

std::string MyDecrypt(std::string_view text) { return Shift(text, -1); }

std::string MyEncrypt(std::string_view text) { return Shift(text, +1); }
