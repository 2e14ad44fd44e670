// ASCII letters as drive letters, -c selectors and the program's name use
// them, whatever the locale.
#pragma once

inline bool IsAsciiLetter(char ch) { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }
inline char AsciiUpper(char ch) { return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch; }
// True when `path` starts with a drive letter and a colon.
inline bool NamesDrive(const char* path) { return IsAsciiLetter(path[0]) && path[1] == ':'; }
