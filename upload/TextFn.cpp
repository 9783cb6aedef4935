#include "upload/TextFn.h"

#include <cstddef>

namespace TextFn {

std::string LastChars(std::string_view text, int n) {
    if (n <= 0 || text.size() < static_cast<std::size_t>(n)) return {};
    return std::string(text.substr(text.size() - static_cast<std::size_t>(n)));
}

std::string ColumnCut(std::string_view text, int from, int count) {
    if (from < 1) from = 1;  // a position before the first column means the first
    const auto start = static_cast<std::size_t>(from);
    if (text.size() < start) return {};
    const std::string_view rest = text.substr(start - 1);
    if (count < 1) return std::string(rest);
    return std::string(rest.substr(0, static_cast<std::size_t>(count)));
}

std::string TrimBlanks(std::string_view text) {
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t first = 0, last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return std::string(text.substr(first, last - first));
}

}  // namespace TextFn
