// The report's one buffered stream to standard output. Every row, heading
// and blank goes through it, so its order is the order of the calls.
#pragma once

#include <cstddef>
#include <string_view>

void OutWrite(const char* data, size_t size);
inline void OutWrite(std::string_view text) { OutWrite(text.data(), text.size()); }
// A line end sends the line at once when standard output is interactive.
void OutChar(char c);
// Writes the character `c` (its low byte) `n` times; nothing when n <= 0.
void putnchar(int c, int n);
// Sends what is buffered. A failed write is reported once; after it the
// stream drops everything and OutFailed() is true.
void OutFlush();
bool OutFailed();
