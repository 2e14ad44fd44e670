#include "options/cmdname.h"

#include <string>

#include "options/ascii.h"

char** av = nullptr;

namespace {

// The last component of `path` less its last extension.
std::string BaseName(const std::string& path) {
  size_t start = path.find_last_of("\\/:");
  std::string name = path.substr(start == std::string::npos ? 0 : start + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

}  // namespace

const char* CalledName() {
  static std::string name;
  if (name.empty() && av && av[0]) name = BaseName(av[0]);
  return name.c_str();
}

const char* cmdname() {
  static std::string name;
  if (name.empty()) {
    name = CalledName();
    for (char& ch : name) ch = AsciiUpper(ch);
  }
  return name.c_str();
}
