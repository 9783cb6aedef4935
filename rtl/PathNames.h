#pragma once
// Where the name part of a path begins: after the last separator.

// Whether `c` separates folders from names on this system.
bool IsNameSeparator(char c);
