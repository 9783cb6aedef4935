#include "data/table/DbfFieldCodec.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace dbfcodec {

namespace {

const char* kOutOfRange = "Numeric out of range.";

std::string RightAlign(const std::string& text, int width) {
    if (static_cast<int>(text.size()) > width) throw FieldWriteError{kOutOfRange};
    return std::string(static_cast<size_t>(width) - text.size(), ' ') + text;
}

long long LittleEndian(std::span<const uint8_t> bytes, size_t n) {
    unsigned long long v = 0;
    for (size_t i = 0; i < n && i < bytes.size(); ++i) v |= static_cast<unsigned long long>(bytes[i]) << (8 * i);
    return static_cast<long long>(v);
}

}  // namespace

TFieldType KindOf(char storedType, int width, int decimals) {
    switch (storedType) {
        case 'L': return TFieldType::ftBoolean;
        case 'N':
        case 'F': return decimals > 0 || width > 4 ? TFieldType::ftFloat : TFieldType::ftSmallint;
        case 'D': return TFieldType::ftDate;
        case 'C': return TFieldType::ftString;
        case 'M':
        case 'V': return TFieldType::ftMemo;
        case 'G':
        case 'P':
        case 'Q': return TFieldType::ftBlob;
        case 'B':
        case 'O': return TFieldType::ftFloat;
        case 'I': return TFieldType::ftInteger;
        case 'T':
        case '@': return TFieldType::ftDateTime;
        case '+': return TFieldType::ftAutoInc;
        case 'Y': return TFieldType::ftCurrency;
        case '0': return TFieldType::ftBytes;
        default: return TFieldType::ftUnknown;
    }
}

bool IsBlank(std::span<const uint8_t> bytes) {
    for (uint8_t b : bytes)
        if (b != ' ' && b != 0) return false;
    return true;
}

std::string TrimTrailing(std::span<const uint8_t> bytes) {
    size_t n = bytes.size();
    while (n > 0 && (bytes[n - 1] == ' ' || bytes[n - 1] == 0)) --n;
    return std::string(reinterpret_cast<const char*>(bytes.data()), n);
}

std::optional<TDateTime> DecodeDate(std::span<const uint8_t> bytes) {
    if (bytes.size() < 8 || IsBlank(bytes)) return std::nullopt;
    int v[3] = {0, 0, 0};
    const int len[3] = {4, 2, 2};
    size_t pos = 0;
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < len[k]; ++i, ++pos) {
            const uint8_t c = bytes[pos];
            if (c < '0' || c > '9') return std::nullopt;
            v[k] = v[k] * 10 + (c - '0');
        }
    }
    try {
        return ::EncodeDate(v[0], v[1], v[2]);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

std::string EncodeDate(TDateTime value, int width) {
    // Eight digits YYYYMMDD, as xBase tools store a date.
    const char* kBroken = "Something's wrong with the engine's date functions";
    if (!std::isfinite(value)) throw FieldWriteError{kBroken};
    int y = 0, m = 0, d = 0;
    ::DecodeDate(value, y, m, d);
    if (y <= 0) throw FieldWriteError{kBroken};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
    const std::string text = buf;
    if (static_cast<int>(text.size()) > width) throw FieldWriteError{kBroken};
    return text + std::string(static_cast<size_t>(width) - text.size(), ' ');
}

std::string DecodeText(const TDbfFieldDef& field, std::span<const uint8_t> bytes) {
    switch (field.Kind) {
        case TFieldType::ftDate: {
            const auto date = DecodeDate(bytes);
            return date ? DateToStr(*date) : std::string();
        }
        case TFieldType::ftBoolean: {
            if (IsBlank(bytes)) return {};
            const uint8_t c = bytes[0];
            return c == '1' || c == 'T' || c == 'Y' || c == 't' || c == 'y' ? "True" : "False";
        }
        case TFieldType::ftInteger:
        case TFieldType::ftAutoInc:
            if (bytes.size() < 4) return {};
            return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(LittleEndian(bytes, 4))));
        case TFieldType::ftSmallint:
        case TFieldType::ftFloat:
            if (field.StoredType == 'N' || field.StoredType == 'F') {
                std::string text = TrimTrailing(bytes);
                const size_t first = text.find_first_not_of(' ');
                return first == std::string::npos ? std::string() : text.substr(first);
            }
            if (field.StoredType == 'B' && bytes.size() == 8) {
                double d = 0;
                std::memcpy(&d, bytes.data(), 8);
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.15g", d);
                return buf;
            }
            return TrimTrailing(bytes);
        case TFieldType::ftMemo:
        case TFieldType::ftBlob:
            return {};
        default:
            return TrimTrailing(bytes);
    }
}

std::string EncodeText(std::string_view text, int width) {
    std::string out(static_cast<size_t>(width), ' ');
    const size_t n = std::min(text.size(), static_cast<size_t>(width));
    std::memcpy(out.data(), text.data(), n);
    return out;
}

std::string EncodeInteger(const TDbfFieldDef& field, long long value) {
    if (field.Kind == TFieldType::ftSmallint || field.Decimals == 0) {
        // Without decimals at most w digits fit before the text would need
        // an exponent.
        const std::string text = std::to_string(value);
        return RightAlign(text, field.Width);
    }
    return EncodeFloat(field, static_cast<double>(value));
}

std::string EncodeFloat(const TDbfFieldDef& field, double value) {
    if (!std::isfinite(value)) throw FieldWriteError{kOutOfRange};
    const int precision = field.Decimals > 0 ? field.Width - 1 : field.Width;
    // Digits before the point beyond the precision would be written with an exponent.
    const double magnitude = std::fabs(value);
    int intDigits = 1;
    if (magnitude >= 1.0) intDigits = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
    if (intDigits > precision || magnitude >= 1e18) throw FieldWriteError{kOutOfRange};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", field.Decimals, value);
    std::string text = buf;
    if (text == "-0" || text.find_first_not_of("-0.") == std::string::npos) {
        if (!text.empty() && text[0] == '-') text.erase(0, 1);
    }
    return RightAlign(text, field.Width);
}

}  // namespace dbfcodec
