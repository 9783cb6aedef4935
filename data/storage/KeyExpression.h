#pragma once
// Index key expressions the engine can compute from a record: a field name,
// UPPER(field), DTOS(date field), and '+' chains of those (character keys);
// a single numeric or date field is recognised as a binary key for reading.
// Anything else is kept as text with the reason it cannot be evaluated.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/storage/XbaseTable.h"

namespace xbase {

class KeyExpression {
public:
    enum class KeyType { Character, Binary, Unknown };

    static KeyExpression parse(std::string_view text, const std::vector<FieldInfo>& fields);

    bool canEvaluate() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }
    KeyType keyType() const { return type_; }
    uint8_t padByte() const { return type_ == KeyType::Binary ? 0x00 : 0x20; }
    uint16_t length() const { return length_; }   // 0 when unknown
    // Appends the key of `record` (a full record image) to `out`.
    void evaluate(std::span<const uint8_t> record, std::string& out) const;
    // Writes the key (length() bytes) of a full record image to `out`.
    void evaluate(std::span<const uint8_t> record, uint8_t* out) const;

private:
    struct Term {
        uint32_t offset = 0;
        uint16_t width = 0;
        bool upper = false;
    };
    std::vector<Term> terms_;
    KeyType type_ = KeyType::Unknown;
    uint16_t length_ = 0;
    std::string problem_;
};

}  // namespace xbase
