#pragma once
// The tables' text: Windows-1252, marked 0x03 in the table header's
// language-driver byte (docs/tables.md). The program's text is UTF-8; the
// table layer converts on every write and read of a character field.
#include <optional>
#include <string>
#include <string_view>

inline constexpr unsigned char kTableCodePageMark = 0x03;   // Windows ANSI, code page 1252

// The stored bytes of UTF-8 text; nullopt when the text holds a character
// the code page has not (or is not well-formed UTF-8).
std::optional<std::string> StoredFromText(std::string_view utf8);
// True when a table can hold the text.
inline bool TableCanHold(std::string_view utf8) { return StoredFromText(utf8).has_value(); }
// The UTF-8 text of stored bytes. Bytes that are well-formed UTF-8 beyond
// ASCII are taken as UTF-8: records written before the tables had a code
// page hold names so, and must still read (and be found) as they were.
std::string TextFromStored(std::string_view bytes);
// The message for text a table cannot hold.
std::string CannotHoldMessage(std::string_view utf8);
