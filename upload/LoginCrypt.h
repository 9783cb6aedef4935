#pragma once
// The scrambling of the login-file fields. Each field is scrambled by
// itself: the byte at position p (from 1) with code c is stored as
// (c + p + K) mod 256 and read back as (c - p - K) mod 256.
#include <string>
#include <string_view>

// The format's fixed offset; whatever writes login files must use it too.
inline constexpr int kLoginScrambleOffset = 7;

// Descrambles one field; the result has the same length and may hold any
// byte, 0 included.
std::string MyDecrypt(std::string_view text);

// The inverse of MyDecrypt, for tools that write login files.
std::string MyEncrypt(std::string_view text);
