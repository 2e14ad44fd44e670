// Number formatting of the report.
#pragma once

#include <cstdint>

// Writes the decimal digits of `n` into `p` with a ',' between groups of
// three, counted from the right; returns `p`. `p` holds at least 27 bytes.
char* commastr(char* p, uint64_t n);

// `n` right-aligned in a field of at least `width` characters; with the
// thousands separators of opt.C the field widens by (width - 1) / 3. Returns
// one static buffer that the next call overwrites.
const char* comma(uint64_t n, int width);

// The field width that `comma` uses for nominal width `width`.
int FieldWidth(int width);
