// Holds GetLastChar, and the separator decision that rests on it, against a
// reading of the text as code page 932 characters: a path ends in a separator
// only when its last character is a single byte that is one.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "walk/dir_tree.h"
#include "walk/last_char.h"

// A failed check aborts, which libFuzzer records as a crash with its input.
#define CHECK(condition) \
  if (!(condition)) std::fprintf(stderr, "check failed: %s\n", #condition), std::abort()

namespace {

bool IsCp932LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Splits `s` into characters from the front; the last byte is returned when
// it forms a character of its own, 0 when it belongs to a double-byte one or
// is a lead byte whose second byte is missing.
int ReferenceLastChar(const std::string& s) {
  bool last_is_single = false;
  for (size_t i = 0; i < s.size();) {
    last_is_single = !IsCp932LeadByte(static_cast<unsigned char>(s[i]));
    i += last_is_single ? 1 : 2;
  }
  return last_is_single ? static_cast<int>(s.back()) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The reference reads code page 932, as the platform linked here must.
  for (int c = 0; c < 256; ++c) CHECK(platform::IsLeadByte(c) == IsCp932LeadByte(c));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path(reinterpret_cast<const char*>(data), size);
  path.resize(strlen(path.c_str()));  // a path ends at its first NUL

  int last = ReferenceLastChar(path);
  CHECK(GetLastChar(path.c_str()) == last);

  bool ends_in_separator = last != 0 && strchr(platform::kPathEnders, last);
  std::string start = StartDirectory(path.c_str());
  CHECK(start == (ends_in_separator ? path : path + platform::kSeparator));
  return 0;
}
