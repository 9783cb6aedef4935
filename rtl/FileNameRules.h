#pragma once
// Which file names this system can open. On POSIX every name the folder
// lists can be opened. On Windows a listing of a share written from another
// system can hold names Windows refuses: the device names (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, whatever extension follows) and names holding
// ? * | < > " (or a control character). One file per platform
// (FileNameRulesPosix.cpp, FileNameRulesWindows.cpp).
#include <string_view>

// True when a file of this name (without folder) can be opened here.
bool IsOpenableName(std::string_view name);
