#pragma once
// Small text helpers of the login-file reading. Texts are byte strings;
// positions count from 1.
#include <string>
#include <string_view>

namespace TextFn {

// Empty when the text is shorter than n characters; otherwise its last n.
std::string LastChars(std::string_view text, int n);

// Empty when the text is shorter than `from` characters; otherwise the
// characters from position `from` on, at most `count` of them. A count
// below 1 takes everything from `from` to the end.
std::string ColumnCut(std::string_view text, int from, int count);

// Removes every character with a code of 32 or less (blanks, control
// characters, code 0) from both ends; inner ones stay.
std::string TrimBlanks(std::string_view text);

}  // namespace TextFn
