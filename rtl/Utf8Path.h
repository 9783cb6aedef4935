#pragma once
// Paths are UTF-8 text inside the program. std::filesystem::path's own
// conversions from and to narrow strings use the ANSI code page where paths
// are wide (Windows), so every path made from the program's text, and every
// path turned back into text, goes through these two, which pass through
// char8_t. Where paths are narrow (POSIX) both copy the bytes as they stand,
// whatever they are.
#include <filesystem>
#include <string>
#include <string_view>

namespace utf8path {

constexpr bool kNarrowPaths = sizeof(std::filesystem::path::value_type) == 1;

// The text with each ill-formed sequence replaced by U+FFFD, as
// MultiByteToWideChar does: a folder name read from a table may hold any bytes.
inline std::u8string WellFormed(std::string_view text)
{
    std::u8string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t tail = 0;
        unsigned char low = 0x80, high = 0xBF;   // the range of the first continuation byte
        if (lead < 0x80) {
            out += static_cast<char8_t>(lead);
            ++i;
            continue;
        }
        // No overlong forms, no surrogates, nothing above U+10FFFF.
        if (lead >= 0xC2 && lead <= 0xDF) {
            tail = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            tail = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            tail = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        std::size_t n = 1;
        while (n <= tail && i + n < text.size()) {
            const auto c = static_cast<unsigned char>(text[i + n]);
            if (c < (n == 1 ? low : 0x80) || c > (n == 1 ? high : 0xBF)) break;
            ++n;
        }
        if (tail != 0 && n == tail + 1) out.append(reinterpret_cast<const char8_t*>(text.data() + i), n);
        else out += u8"\uFFFD";
        i += n;
    }
    return out;
}

// UTF-16 as UTF-8, each unpaired surrogate replaced by U+FFFD (a Windows
// name need not be valid UTF-16; path::u8string() would throw on it).
template <class Unit>
std::string FromUtf16(std::basic_string_view<Unit> wide)
{
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
            const char32_t next = static_cast<char16_t>(wide[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00), ++i;
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        if (c < 0x80) out += char(c);
        else if (c < 0x800) out += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        else if (c < 0x10000) out += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        else
            out += {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)),
                    char(0x80 | (c & 0x3F))};
    }
    return out;
}

}  // namespace utf8path

// The path named by UTF-8 text.
inline std::filesystem::path PathFromUtf8(std::string_view text)
{
    if constexpr (utf8path::kNarrowPaths) return std::filesystem::path(std::u8string(text.begin(), text.end()));
    else return std::filesystem::path(utf8path::WellFormed(text));
}

// The path as UTF-8 text.
inline std::string Utf8FromPath(const std::filesystem::path& path)
{
    if constexpr (utf8path::kNarrowPaths) {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    } else {
        return utf8path::FromUtf16(std::basic_string_view<std::filesystem::path::value_type>(path.native()));
    }
}
