#include "report/comma.h"

#include <charconv>
#include <cstring>

#include "driver/opt.h"

namespace {

// 20 digits and 6 separators for the largest 64-bit value, or the widest
// field, and the terminator.
constexpr int kNumberBytes = 27;
char s[kNumberBytes];

}  // namespace

char* commastr(char* p, uint64_t n) {
  char digits[20];
  char* end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  int len = static_cast<int>(end - digits);
  char* out = p;
  for (int i = 0; i < len; ++i) {
    if (i > 0 && (len - i) % 3 == 0) *out++ = ',';
    *out++ = digits[i];
  }
  *out = '\0';
  return p;
}

int FieldWidth(int width) { return opt.C ? width + (width - 1) / 3 : width; }

const char* comma(uint64_t n, int width) {
  char text[kNumberBytes];
  int len;
  if (opt.C) {
    len = static_cast<int>(strlen(commastr(text, n)));
  } else {
    len = static_cast<int>(std::to_chars(text, text + sizeof text, n).ptr - text);
  }
  int field = FieldWidth(width);
  int pad = field > len ? field - len : 0;
  memset(s, ' ', static_cast<size_t>(pad));
  memcpy(s + pad, text, static_cast<size_t>(len));
  s[pad + len] = '\0';
  return s;
}
