// The login file's string functions, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "upload/TextFn.h"

using namespace std::string_literals;

struct LastCharsCase { std::string text; int n; std::string expected; };
class LastCharsTest : public ::testing::TestWithParam<LastCharsCase> {};
TEST_P(LastCharsTest, Table) {
    const auto& c = GetParam();
    EXPECT_EQ(TextFn::LastChars(c.text, c.n), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, LastCharsTest, ::testing::Values(
    LastCharsCase{"C:\\QEL\\", 1, "\\"},
    LastCharsCase{"/opt/qel", 1, "l"},
    LastCharsCase{"abc", 3, "abc"},
    LastCharsCase{"abc", 2, "bc"},
    LastCharsCase{"ab", 3, ""},          // shorter than n
    LastCharsCase{"", 1, ""},
    LastCharsCase{"abc", 0, ""},
    LastCharsCase{"a\0b"s, 2, "\0b"s}));  // bytes, not C strings

struct ColumnCutCase { std::string text; int from; int count; std::string expected; };
class ColumnCutTest : public ::testing::TestWithParam<ColumnCutCase> {};
TEST_P(ColumnCutTest, Table) {
    const auto& c = GetParam();
    EXPECT_EQ(TextFn::ColumnCut(c.text, c.from, c.count), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, ColumnCutTest, ::testing::Values(
    ColumnCutCase{"abcdefgh", 1, 3, "abc"},
    ColumnCutCase{"abcdefgh", 3, 2, "cd"},
    ColumnCutCase{"abcdefgh", 6, 20, "fgh"},   // runs past the end: cut there
    ColumnCutCase{"abcdefgh", 8, 5, "h"},      // from at the last character
    ColumnCutCase{"abcdefgh", 9, 5, ""},       // shorter than from
    ColumnCutCase{"abcdefgh", 3, 0, "cdefgh"}, // count below 1 takes the rest
    ColumnCutCase{"abcdefgh", 3, -4, "cdefgh"},
    ColumnCutCase{"", 1, 20, ""},
    ColumnCutCase{"ab\0\xff" "cd"s, 2, 3, "b\0\xff"s}));

struct TrimCase { std::string text; std::string expected; };
class TrimBlanksTest : public ::testing::TestWithParam<TrimCase> {};
TEST_P(TrimBlanksTest, Table) {
    EXPECT_EQ(TextFn::TrimBlanks(GetParam().text), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, TrimBlanksTest, ::testing::Values(
    TrimCase{"  ftp.example.com  ", "ftp.example.com"},
    TrimCase{"\0\t\r\n host \x1f\0"s, "host"},
    TrimCase{"a b\0c"s, "a b\0c"s},            // inner ones stay
    TrimCase{" \0\x01\x20"s, ""},              // only blanks and controls
    TrimCase{"", ""},
    TrimCase{"\x21" "x\x7f", "\x21" "x\x7f"},  // 33 and 127 are not blanks
    TrimCase{"\xa0name\xff", "\xa0name\xff"})); // high codes are not blanks

