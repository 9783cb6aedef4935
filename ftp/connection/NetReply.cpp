#include "ftp/connection/NetReply.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "ftp/NetExceptions.h"

std::string TNetRFCReply::FormattedText() const {
    std::string out;
    for (const std::string& line : Text) {
        out += line;
        out += "\r\n";
    }
    return out;
}

bool IsSafeCommandLine(std::string_view line) { return line.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

std::string ShowCommandLine(std::string_view line) {
    std::string shown;
    for (char c : line) {
        if (c == '\r') shown += "<CR>";
        else if (c == '\n') shown += "<LF>";
        else if (c == '\0') shown += "<NUL>";
        else shown += c;
    }
    return shown;
}

std::string TrimBlanks(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
    return std::string(text.substr(b, e - b));
}

namespace {
template <typename T>
std::optional<T> ParseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    // Accumulate negatively so the smallest value fits.
    T value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        int digit = c - '0';
        if (value < (std::numeric_limits<T>::min() + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<T>::min()) return std::nullopt;
        value = -value;
    }
    return value;
}
}  // namespace

std::optional<int> ParseInt(std::string_view text) { return ParseDecimal<int>(text); }
std::optional<long long> ParseInt64(std::string_view text) { return ParseDecimal<long long>(text); }

int StrToInt(std::string_view text) {
    std::optional<int> v = ParseInt(text);
    if (!v) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    return *v;
}

void TNetInputBuffer::Append(const char* data, std::size_t size) { data_.append(data, size); }

char* TNetInputBuffer::Reserve(std::size_t size) {
    reservedAt_ = data_.size();
    data_.resize(reservedAt_ + size);
    return data_.data() + reservedAt_;
}

void TNetInputBuffer::Commit(std::size_t size) { data_.resize(reservedAt_ + size); }

void TNetInputBuffer::Clear() {
    data_.clear();
    readPos_ = 0;
    searched_ = 0;
}

std::optional<std::string> TNetInputBuffer::TakeLine(std::size_t& taken) {
    taken = 0;
    const char* begin = data_.data() + readPos_;
    std::size_t size = Size();
    const void* lf = searched_ < size ? std::memchr(begin + searched_, '\n', size - searched_) : nullptr;
    if (!lf) {
        searched_ = size;
        if (size > MaxLineLength) throw ENetReadLnMaxLineLengthExceeded();
        return std::nullopt;
    }
    std::size_t before = static_cast<const char*>(lf) - begin;
    if (before > MaxLineLength) throw ENetReadLnMaxLineLengthExceeded();
    std::size_t length = before;
    if (length > 0 && begin[length - 1] == '\r') --length;
    std::string line(begin, length);
    taken = before + 1;
    readPos_ += taken;
    searched_ = 0;
    if (readPos_ == data_.size()) {
        data_.clear();
        readPos_ = 0;
    } else if (readPos_ >= CompactThreshold) {
        data_.erase(0, readPos_);
        readPos_ = 0;
    }
    return line;
}

bool TNetReplyCollector::AddLine(std::string_view rawLine) {
    if (complete_) return true;
    std::string line = TrimBlanks(rawLine);
    if (line.empty()) return false;
    if (lines_.empty()) {
        bool more = line.size() > 3 && line[3] == '-';
        if (more) endMarker_ = line.substr(0, 3) + " ";
        lines_.push_back(std::move(line));
        complete_ = !more;
        return complete_;
    }
    // Only the end marker ends the reply: the code and a blank, or the bare
    // code once trimming took its blank. A short line is text like any other,
    // or a banner line "--" would put every later reply out of step.
    const auto sameCode = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    // The marker stands at the start of the line as received: an inner line
    // that begins with a blank (" 213 24") is text, whatever follows.
    std::string_view marked = rawLine;
    while (!marked.empty() && static_cast<unsigned char>(marked.back()) <= ' ') marked.remove_suffix(1);
    const std::string_view code(endMarker_.data(), 3);
    const bool last =
        (marked.size() >= 4 && std::equal(endMarker_.begin(), endMarker_.end(), marked.begin(), sameCode)) ||
        (marked.size() == 3 && std::equal(code.begin(), code.end(), marked.begin(), sameCode));
    lines_.push_back(std::move(line));
    complete_ = last;
    return complete_;
}

TNetRFCReply ParseReplyLines(const std::vector<std::string>& lines) {
    TNetRFCReply reply;
    if (lines.empty()) return reply;
    std::string code = TrimBlanks(std::string_view(lines.front()).substr(0, 4));
    if (code.size() == 4 && code.back() == '-') code.pop_back();
    reply.TextCode = code;
    if (!code.empty()) reply.NumericCode = ParseInt(code).value_or(0);
    for (const std::string& line : lines) reply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
    return reply;
}

namespace {
// The text before the next ",", or the rest; removes it and the ",".
std::string SplitField(std::string& rest) {
    std::size_t comma = rest.find(',');
    std::string field = rest.substr(0, comma);
    rest.erase(0, comma == std::string::npos ? rest.size() : comma + 1);
    return field;
}
}  // namespace

TPassiveAddress ParsePassiveReply(std::string_view firstTextLine) {
    std::string line = TrimBlanks(firstTextLine);
    std::string rest;
    std::size_t open = line.find('(');
    std::size_t close = line.find(')');
    if (open != std::string::npos && close != std::string::npos) {
        // Between the first "(" and the first ")", even when ")" comes first.
        rest = close > open ? line.substr(open + 1, close - open - 1) : std::string();
    } else {
        std::size_t blank = line.rfind(' ');
        rest = blank == std::string::npos ? line : line.substr(blank + 1);
    }
    TPassiveAddress result;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) result.Address += '.';
        result.Address += SplitField(rest);
    }
    int high = StrToInt(SplitField(rest));
    int low = StrToInt(SplitField(rest));
    // No range test: the socket address keeps the low 16 bits.
    result.Port = static_cast<int>(static_cast<long long>(high) * 256 + low);
    return result;
}

long long ParseSizeReply(const std::vector<std::string>& text) {
    // The size is the text of the reply's last line (its only line, or the
    // end line "213 N" of a multi-line reply): decimal digits and nothing
    // else. A sign, an exponent, a unit or a number past 64 bits is no size.
    if (text.empty()) return -1;
    const std::string digits = TrimBlanks(text.back());
    if (digits.empty() || digits.size() > 19) return -1;
    for (const char c : digits)
        if (c < '0' || c > '9') return -1;
    return ParseInt64(digits).value_or(-1);
}

std::string ShownReply(const TNetRFCReply& reply) {
    // Server text in a message: on one line, no control characters, bounded.
    constexpr std::size_t kShownLength = 200;
    std::string shown = reply.TextCode;
    for (const std::string& line : reply.Text) {
        if (line.empty()) continue;
        if (!shown.empty()) shown += ' ';
        for (const char c : line) {
            const auto code = static_cast<unsigned char>(c);
            shown += code < 0x20 || code == 0x7F ? '?' : c;
        }
        if (shown.size() > kShownLength) break;
    }
    if (shown.size() > kShownLength) {
        // Cut before a character, never inside one of UTF-8.
        std::size_t cut = kShownLength;
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
        shown = shown.substr(0, cut) + "...";
    }
    return shown;
}

std::string RefusedReplyMessage(const TNetRFCReply& reply) {
    const std::string text = reply.FormattedText();
    if (!TrimBlanks(text).empty()) return text;
    return "The server answered \"" + (reply.TextCode.empty() ? std::string("?") : reply.TextCode) +
           "\" with no text.";
}
