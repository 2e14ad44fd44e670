#include "walk/last_char.h"

#include <cstring>

#include "platform/path.h"

int GetLastChar(const char* s) {
  size_t len = strlen(s);
  int ret = 0;
  for (size_t i = 0; i < len; ++i) {
    if (platform::IsLeadByte(static_cast<unsigned char>(s[i])))
      ++i;
    else if (i == len - 1)
      ret = s[i];
  }
  return ret;
}
