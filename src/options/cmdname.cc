#include "options/cmdname.h"

#include <cstring>

#include "options/ascii.h"

char** av = nullptr;

namespace {

// Room for any file name; a longer one is cut.
constexpr size_t kNameRoom = 256;

// The last component of `path` less its last extension, into `name`,
// without allocating: the message that memory ran out begins with it.
void BaseName(const char* path, char (&name)[kNameRoom]) {
  const char* start = path;
  for (const char* p = path; *p; ++p)
    if (strchr("\\/:", *p)) start = p + 1;
  const char* dot = strrchr(start, '.');
  size_t len = dot ? static_cast<size_t>(dot - start) : strlen(start);
  len = len < kNameRoom - 1 ? len : kNameRoom - 1;
  memcpy(name, start, len);
  name[len] = '\0';
}

}  // namespace

const char* CalledName() {
  static char name[kNameRoom];
  if (!name[0] && av && av[0]) BaseName(av[0], name);
  return name;
}

const char* cmdname() {
  static char name[kNameRoom];
  if (!name[0]) {
    strcpy(name, CalledName());
    for (char* ch = name; *ch; ++ch) *ch = AsciiUpper(*ch);
  }
  return name;
}
