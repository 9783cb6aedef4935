#pragma once
// The words of qeladmin's command line, the program's name first, as UTF-8:
// one file per platform. On POSIX they are argv as it stands
// (CommandLinePosix.cpp); on Windows argv is in the ANSI code page, so the
// words are read from the wide command line instead (CommandLineWindows.cpp).
#include <string>
#include <vector>

std::vector<std::string> CommandLineWords(int argc, char** argv);
