#include "spacemap/exclude.h"

#include "spacemap/glob.h"

ExcludeRules::ExcludeRules(const std::vector<std::string>& patterns, bool hidden) : hidden_(hidden) {
  for (const std::string& pattern : patterns)
    (pattern.find('/') == std::string::npos ? name_patterns_ : path_patterns_).push_back(pattern);
}

bool ExcludeRules::ExcludesName(std::string_view name) const {
  if (hidden_ && !name.empty() && name[0] == '.') return true;
  for (const std::string& pattern : name_patterns_)
    if (GlobMatch(pattern, name)) return true;
  return false;
}

// The whole path, and each ending of it that starts a component.
bool ExcludeRules::ExcludesPath(std::string_view path) const {
  for (const std::string& pattern : path_patterns_) {
    if (GlobMatch(pattern, path)) return true;
    for (size_t slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/', slash + 1))
      if (slash + 1 < path.size() && path[slash + 1] != '/' && GlobMatch(pattern, path.substr(slash + 1)))
        return true;
  }
  return false;
}

namespace {

// The reason `pattern` can match no path below `start`, or "".
std::string Never(const std::string& pattern, const std::string& start) {
  if (pattern.empty()) return "an empty pattern matches no name";
  if (pattern.back() == '/') return "no path ends in '/'";
  if (pattern.find("//") != std::string::npos) return "no path holds '//'";
  std::string framed = "/" + pattern + "/";
  if (framed.find("/./") != std::string::npos || framed.find("/../") != std::string::npos)
    return "paths hold no '.' or '..' component";
  if (pattern[0] != '/') return "";
  // An absolute pattern is matched against the whole path: its bytes before
  // any wildcard must agree with the start's.
  std::string literal = pattern.substr(0, pattern.find_first_of("*?[\\"));
  std::string below = start.back() == '/' ? start : start + "/";
  bool agrees = literal.size() <= below.size() ? below.compare(0, literal.size(), literal) == 0
                                               : literal.compare(0, below.size(), below) == 0;
  return agrees ? "" : "it is not below " + start;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ExcludeRules::NeverMatching(const std::string& start) const {
  std::vector<std::pair<std::string, std::string>> never;
  for (const auto* patterns : {&name_patterns_, &path_patterns_})
    for (const std::string& pattern : *patterns)
      if (std::string why = Never(pattern, start); !why.empty()) never.emplace_back(pattern, why);
  return never;
}
