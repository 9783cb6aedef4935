#include "rtl/PathNames.h"

// On POSIX only '/' separates; '\' and ':' are ordinary name characters.
bool IsNameSeparator(char c) { return c == '/'; }
