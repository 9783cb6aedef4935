#include "tools/qeladmin/CommandLine.h"

std::vector<std::string> CommandLineWords(int argc, char** argv) { return {argv, argv + argc}; }
