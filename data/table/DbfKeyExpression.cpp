#include "data/table/DbfKeyExpression.h"

#include <cctype>

#include "data/values/TextCase.h"

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// "NAME(inner)" gives inner when the function name matches.
std::optional<std::string_view> Unwrap(std::string_view term, std::string_view function) {
    if (term.size() < function.size() + 2 || term.back() != ')') return std::nullopt;
    if (!SameTextIgnoringCase(term.substr(0, function.size()), function)) return std::nullopt;
    std::string_view rest = Trim(term.substr(function.size()));
    if (rest.empty() || rest.front() != '(') return std::nullopt;
    return Trim(rest.substr(1, rest.size() - 2));
}

}  // namespace

std::optional<DbfKeyExpression> DbfKeyExpression::Parse(std::string_view expression,
                                                        const std::vector<TDbfFieldDef>& fields) {
    DbfKeyExpression result;
    size_t start = 0;
    while (start <= expression.size()) {
        size_t plus = expression.find('+', start);
        if (plus == std::string_view::npos) plus = expression.size();
        std::string_view term = Trim(expression.substr(start, plus - start));
        bool upper = false, dtos = false;
        if (auto inner = Unwrap(term, "UPPER")) {
            upper = true;
            term = *inner;
        } else if (auto inner2 = Unwrap(term, "DTOS")) {
            dtos = true;
            term = *inner2;
        }
        if (const size_t arrow = term.find("->"); arrow != std::string_view::npos) term = Trim(term.substr(arrow + 2));
        const TDbfFieldDef* field = nullptr;
        for (const TDbfFieldDef& f : fields)
            if (SameTextIgnoringCase(f.Name, term)) field = &f;
        if (field == nullptr) return std::nullopt;
        if (dtos ? field->Kind != TFieldType::ftDate
                 : (field->Kind != TFieldType::ftString && field->Kind != TFieldType::ftDate))
            return std::nullopt;
        result.terms_.push_back({field->Offset, field->Width, upper});
        start = plus + 1;
    }
    if (result.terms_.empty()) return std::nullopt;
    return result;
}

std::string DbfKeyExpression::Evaluate(std::span<const uint8_t> image) const {
    std::string key;
    for (const Term& t : terms_) {
        if (static_cast<size_t>(t.offset + t.width) > image.size()) continue;
        std::string part(reinterpret_cast<const char*>(image.data()) + t.offset, static_cast<size_t>(t.width));
        if (t.upper) part = UpperCase(part);
        key += part;
    }
    return key;
}
