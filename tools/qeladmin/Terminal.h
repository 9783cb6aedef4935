#pragma once
// Whether standard error is a terminal (a person watching, not a log): one
// file per platform (TerminalPosix.cpp, TerminalWindows.cpp).
bool StandardErrorIsTerminal();
