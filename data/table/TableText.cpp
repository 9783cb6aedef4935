#include "data/table/TableText.h"

#include <array>

namespace {

// The characters of Windows-1252 from 0x80 to 0x9F; 0 where it has none.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::optional<char> ByteOf(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] != 0 && kHigh[i] == c) return static_cast<char>(0x80 + i);
    return std::nullopt;
}

// The next code point of well-formed UTF-8 at `i` (moved past it); nullopt
// for an ill-formed sequence.
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) return ++i, char32_t(lead);
    std::size_t tail;
    char32_t c;
    if (lead >= 0xC2 && lead <= 0xDF) tail = 1, c = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) tail = 2, c = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) tail = 3, c = lead & 0x07;
    else return std::nullopt;
    if (i + tail >= text.size()) return std::nullopt;
    for (std::size_t k = 1; k <= tail; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (b & 0x3F);
    }
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((tail == 2 && c < 0x800) || (tail == 3 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    i += tail + 1;
    return c;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) out += char(c);
    else if (c < 0x800) out += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
    else out += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
}

// Well-formed UTF-8 holding at least one character beyond ASCII.
bool IsUtf8BeyondAscii(std::string_view bytes) {
    bool beyond = false;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = NextCodePoint(bytes, i);
        if (!c) return false;
        beyond = beyond || *c >= 0x80;
    }
    return beyond;
}

}  // namespace

std::optional<std::string> StoredFromText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = NextCodePoint(utf8, i);
        if (!c) return std::nullopt;
        const auto byte = ByteOf(*c);
        if (!byte) return std::nullopt;
        out += *byte;
    }
    return out;
}

std::string TextFromStored(std::string_view bytes) {
    if (IsUtf8BeyondAscii(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (const char b : bytes) {
        const auto code = static_cast<unsigned char>(b);
        if (code >= 0x80 && code <= 0x9F) AppendUtf8(out, kHigh[code - 0x80] ? kHigh[code - 0x80] : char32_t(code));
        else AppendUtf8(out, code);
    }
    return out;
}

std::string CannotHoldMessage(std::string_view utf8) {
    return "\"" + std::string(utf8) + "\" cannot be stored: the tables hold Windows-1252 text only.";
}
