#pragma once
// The password for `qeladmin login`, never taken from the command line:
// asked for on the terminal with echo off when standard input is one, else
// the first line of standard input (its CR LF or LF end removed).
#include <optional>
#include <string>

// nullopt when standard input ends before any character or line end.
// A line longer than kMaxPasswordInput is cut there (the caller refuses it
// as too long for its column anyway).
std::optional<std::string> ReadPassword(const char* prompt);

inline constexpr std::size_t kMaxPasswordInput = 256;
