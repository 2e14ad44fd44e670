// What --exclude, --exclude-from and --exclude-hidden leave out, as ncdu's
// users write it: a pattern without a slash is matched against names, one
// with a slash against the path's ending from the start of one of its
// components, or the whole path ("/abs/path/cache", "a/b", "*/x").
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

class ExcludeRules {
 public:
  ExcludeRules(const std::vector<std::string>& patterns, bool hidden);
  // By its name alone: a dot name when hidden ones are left out, or a
  // pattern without a slash.
  bool ExcludesName(std::string_view name) const;
  bool HasPathPatterns() const { return !path_patterns_.empty(); }
  // By a slash pattern; `path` is absolute, its separators '/'.
  bool ExcludesPath(std::string_view path) const;
  // Each pattern that can match nothing below `start` (absolute, separators
  // '/'), with the reason why it never will.
  std::vector<std::pair<std::string, std::string>> NeverMatching(const std::string& start) const;

 private:
  std::vector<std::string> name_patterns_, path_patterns_;
  bool hidden_;
};
