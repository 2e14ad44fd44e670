// The POSIX process's environment and arguments.
#include "platform/process.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

extern char** environ;

namespace platform {

bool GetEnv(const char* name, std::string* value) {
  const char* found = ::getenv(name);
  size_t len = strlen(name);
  for (char** e = environ; !found && *e; ++e)
    if (strncasecmp(*e, name, len) == 0 && (*e)[len] == '=') found = *e + len + 1;
  if (!found) return false;
  value->assign(found);
  return true;
}

// A program is known by the name it was called by (a link "sp" to space is
// "sp"); only without one is the executable's own file asked.
std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (args.empty()) args.emplace_back();
  if (!args[0].empty()) return args;
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  if (n > 0 && static_cast<size_t>(n) < sizeof exe) args[0].assign(exe, static_cast<size_t>(n));
  return args;
}

}  // namespace platform
