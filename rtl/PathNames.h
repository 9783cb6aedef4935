#pragma once
// Which characters end a folder in a path. On Windows "\", "/" and ":" do;
// on POSIX only "/" does, so a file's name there is its whole directory
// entry, ":" and "\" included.

// True for a character that separates folders (or a drive) from a name.
bool IsNameSeparator(char c);
// The separator the system writes ("\\" on Windows, "/" on POSIX): a path the
// program joins uses it, so a message never mixes the two.
char PreferredSeparator();
