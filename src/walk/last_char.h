#pragma once

// The last byte of `s` when it is a whole single-byte character, else 0: the
// second byte of a double-byte character is never taken for a separator.
int GetLastChar(const char* s);
