#include "data/storage/KeyExpression.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace xbase {
namespace {

std::string upperAscii(std::string_view s)
{
    std::string r(s);
    for (char& c : r) c = char(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

const FieldInfo* findField(std::string_view name, const std::vector<FieldInfo>& fields)
{
    std::string wanted = upperAscii(trim(name));
    // ALIAS->FIELD names the same field.
    if (auto arrow = wanted.rfind("->"); arrow != std::string::npos) wanted = upperAscii(trim(std::string_view(wanted).substr(arrow + 2)));
    for (const FieldInfo& f : fields)
        if (upperAscii(f.name) == wanted) return &f;
    return nullptr;
}

// "NAME(inner)" -> inner when the function name matches, case-insensitive.
bool unwrapCall(std::string_view term, std::string_view function, std::string_view& inner)
{
    if (term.size() < function.size() + 2 || term.back() != ')') return false;
    if (upperAscii(term.substr(0, function.size())) != function) return false;
    std::string_view rest = trim(term.substr(function.size()));
    if (rest.empty() || rest.front() != '(') return false;
    inner = trim(rest.substr(1, rest.size() - 2));
    return true;
}

}  // namespace

KeyExpression KeyExpression::parse(std::string_view text, const std::vector<FieldInfo>& fields)
{
    KeyExpression e;
    std::string_view rest = trim(text);
    if (rest.empty()) {
        e.problem_ = "empty key expression";
        return e;
    }
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == '+') {
            parts.push_back(trim(rest.substr(start, i - start)));
            start = i + 1;
        }
    }
    uint32_t total = 0;
    for (std::string_view part : parts) {
        std::string_view inner;
        Term term;
        const FieldInfo* field = nullptr;
        if (unwrapCall(part, "UPPER", inner)) {
            field = findField(inner, fields);
            term.upper = true;
            if (field && field->type != 'C') field = nullptr;
        } else if (unwrapCall(part, "DTOS", inner)) {
            field = findField(inner, fields);
            if (field && field->type != 'D') field = nullptr;
        } else {
            field = findField(part, fields);
            if (field && field->type != 'C') {
                if (parts.size() == 1 && (field->type == 'N' || field->type == 'D' || field->type == 'F' ||
                                          field->type == 'I')) {
                    e.type_ = KeyType::Binary;
                    e.length_ = field->type == 'I' ? 4 : 8;
                    e.problem_ = "numeric and date keys are not maintained by this engine";
                    return e;
                }
                field = nullptr;
            }
        }
        if (!field) {
            e.type_ = KeyType::Unknown;
            e.problem_ = "cannot evaluate key expression '" + std::string(text) + "'";
            e.terms_.clear();
            return e;
        }
        term.offset = field->offset;
        term.width = field->width;
        total += field->width;
        e.terms_.push_back(term);
    }
    if (total > 240) {
        e.problem_ = "key expression '" + std::string(text) + "' gives keys longer than 240 bytes";
        e.type_ = KeyType::Character;
        return e;
    }
    e.type_ = KeyType::Character;
    e.length_ = uint16_t(total);
    return e;
}

void KeyExpression::evaluate(std::span<const uint8_t> record, std::string& out) const
{
    for (const Term& t : terms_) {
        size_t end = size_t(t.offset) + t.width;
        for (size_t i = t.offset; i < end; ++i) {
            char c = i < record.size() ? char(record[i]) : ' ';
            if (c == '\0') c = ' ';
            out.push_back(t.upper ? char(std::toupper(static_cast<unsigned char>(c))) : c);
        }
    }
}

void KeyExpression::evaluate(std::span<const uint8_t> record, uint8_t* out) const
{
    for (const Term& t : terms_) {
        const size_t have = t.offset < record.size() ? std::min<size_t>(t.width, record.size() - t.offset) : 0;
        if (have) std::memcpy(out, record.data() + t.offset, have);
        std::memset(out + have, ' ', t.width - have);
        for (size_t i = 0; i < t.width; ++i) {
            if (out[i] == 0) out[i] = ' ';
            else if (t.upper) out[i] = uint8_t(std::toupper(out[i]));   // as the update path computes it
        }
        out += t.width;
    }
}

}  // namespace xbase
