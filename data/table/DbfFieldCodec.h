#pragma once
// Field values in a record image: decoding for reads, encoding for writes.
// Encoders return the stored bytes (exactly the field's width) or throw the
// layer's messages without the table prefix (the table adds it).
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "data/table/DbfTable.h"
#include "data/values/DateTime.h"

namespace dbfcodec {

// Raised by encoders with the message that the table prefixes; code 5121
// unless stated otherwise.
struct FieldWriteError {
    std::string message;
};

TFieldType KindOf(char storedType, int width, int decimals);

bool IsBlank(std::span<const uint8_t> bytes);               // only blanks and NULs
std::string TrimTrailing(std::span<const uint8_t> bytes);   // blanks and NULs removed

// Date field: the day number of the eight digits; nullopt when blank or not a date.
std::optional<TDateTime> DecodeDate(std::span<const uint8_t> bytes);
std::string EncodeDate(TDateTime value, int width);        // FieldWriteError when too long

std::string DecodeText(const TDbfFieldDef& field, std::span<const uint8_t> bytes);
std::string EncodeText(std::string_view text, int width);   // cut or blank-filled
// Numeric text right-aligned in the width; FieldWriteError "Numeric out of range."
std::string EncodeInteger(const TDbfFieldDef& field, long long value);
std::string EncodeFloat(const TDbfFieldDef& field, double value);

}  // namespace dbfcodec
