#pragma once
// Evaluates the simple tag expressions xBase tools write (FIELD, UPPER(FIELD),
// DTOS(FIELD), ALIAS->FIELD, joined with "+") on a record image, so that the
// table can compare a record's key with a sought key.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/table/DbfTable.h"

class DbfKeyExpression {
public:
    // nullopt when the expression uses anything beyond the forms above.
    static std::optional<DbfKeyExpression> Parse(std::string_view expression,
                                                 const std::vector<TDbfFieldDef>& fields);
    std::string Evaluate(std::span<const uint8_t> image) const;

private:
    struct Term {
        int offset;
        int width;
        bool upper;
    };
    std::vector<Term> terms_;
};
