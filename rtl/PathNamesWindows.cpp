#include "rtl/PathNames.h"

// On Windows '\', '/' and the drive's ':' all separate.
bool IsNameSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }
char PreferredSeparator() { return '\\'; }
