#include "rtl/PathNames.h"

bool IsNameSeparator(char c) { return c == '/'; }
char PreferredSeparator() { return '/'; }
