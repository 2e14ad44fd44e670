#include "options/parse_arg.h"

#include <cstdint>
#include <cstring>

#include "driver/opt.h"
#include "options/ascii.h"
#include "options/usage.h"
#include "platform/drive.h"
#include "platform/path.h"
#include "report/saturating.h"

namespace {

int DigitValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'z') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'Z') return ch - 'A' + 10;
  return 99;
}

bool IsCSpace(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

// Reads a number as strtoul does with base 0 on a 32-bit unsigned long:
// blanks, a sign, then hexadecimal after "0x", octal after "0", decimal
// otherwise; too large gives 4294967295, "-" negates modulo 2^32. Without
// digits the result is 0 and `*end` is `text`.
uint32_t ReadNumber(const char* text, const char** end) {
  const char* p = text;
  while (IsCSpace(*p)) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  const char* digits = p;
  uint64_t value = 0;
  bool overflow = false;
  for (; DigitValue(*p) < base; ++p) {
    value = value * base + DigitValue(*p);
    if (value > UINT32_MAX) {
      overflow = true;
      value = UINT32_MAX;  // keeps the product small; the digits still count
    }
  }
  if (p == digits) {
    *end = text;
    return 0;
  }
  *end = p;
  if (overflow) return UINT32_MAX;
  uint32_t result = static_cast<uint32_t>(value);
  return negative ? 0u - result : result;
}

// Acts on the `-c` form whose selector `p` points at; returns where the
// option letters go on.
const char* ParseClusterForm(const char* p) {
  if (*p == '#') {
    opt.use_c = 0;
    return p + 1;
  }
  if (*p == '@' || *p == '.' || IsAsciiLetter(*p)) {
    opt.use_c = 1;
    opt.c = static_cast<uint32_t>(GetClusterSize(static_cast<unsigned char>(*p == '.' ? '@' : *p)));
    return p + 1;
  }
  const char* end;
  opt.use_c = 1;
  opt.c = ReadNumber(p, &end);
  return end;
}

}  // namespace

int flip(int& x) {
  x = x == 0 ? 1 : 0;
  return x;
}

long GetClusterSize(unsigned drive) {
  unsigned d = static_cast<unsigned char>(AsciiUpper(static_cast<char>(drive))) - 64;
  platform::dfree df;
  if (platform::getdfree(d, nullptr, &df) != 0) return 0;
  return static_cast<long>(SatNarrow(SatMul(df.df_bsec, df.df_sclus)));
}

int ParseArg(const char* arg) {
  if (arg[0] != '\0' && strchr(platform::kOptionPrefixes, arg[0])) {
    for (const char* p = arg + 1; *p;) {
      switch (*p++) {
        case 'b': flip(opt.b); break;
        case 'C': flip(opt.C); break;
        case 'f': flip(opt.f); break;
        case 'g': flip(opt.g); break;
        case 'h': flip(opt.h); break;
        case 'n': flip(opt.n); break;
        case 'p': flip(opt.p); break;
        case 's': flip(opt.s); break;
        case 't': flip(opt.t); break;
        case 'k':
          opt.use_c = 1;
          opt.c = 1024;
          break;
        case 'c': p = ParseClusterForm(p); break;
        case '?': return Usage();
        default: break;  // anything else is skipped without a word
      }
    }
  } else {
    opt.pathname = arg;
    if (NamesDrive(arg)) opt.drive = static_cast<unsigned char>(AsciiUpper(arg[0]));
  }
  // An explicit size 0 gives way to the drive's own when the allocated or the
  // gap column is asked for: both need clusters.
  if ((opt.s || opt.g) && opt.use_c && opt.c == 0) opt.use_c = 0;
  return 0;
}
