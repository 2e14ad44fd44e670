#include "spacemap/glob.h"

#include <cstddef>

namespace {

// Matches the set that starts at pattern[*p] (after the "[") against `c`,
// moving *p past its "]". A "[" without its "]" is taken as itself.
bool MatchSet(std::string_view pattern, size_t* p, unsigned char c, bool* is_set) {
  size_t i = *p + 1;
  bool negate = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negate) ++i;
  bool found = false;
  for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
    unsigned char low = static_cast<unsigned char>(pattern[i++]);
    if (low == '\\' && i < pattern.size()) low = static_cast<unsigned char>(pattern[i++]);
    unsigned char high = low;
    if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
      high = static_cast<unsigned char>(pattern[i + 1]);
      i += 2;
    }
    found |= low <= c && c <= high;
  }
  *is_set = i < pattern.size();
  if (!*is_set) return c == '[';
  *p = i + 1;
  return found != negate;
}

}  // namespace

// The classic walk with one point to come back to: the last "*" seen, and
// where in the name it was tried. Linear in practice, never recursive.
bool GlobMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t star = std::string_view::npos, star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      star_name = n;
      continue;
    }
    if (p < pattern.size()) {
      unsigned char c = static_cast<unsigned char>(name[n]);
      size_t next = p + 1;
      bool match;
      if (pattern[p] == '?') {
        match = true;
      } else if (pattern[p] == '[') {
        bool is_set;
        size_t at = p;
        match = MatchSet(pattern, &at, c, &is_set);
        next = is_set ? at : p + 1;
      } else if (pattern[p] == '\\' && p + 1 < pattern.size()) {
        match = static_cast<unsigned char>(pattern[p + 1]) == c;
        next = p + 2;
      } else {
        match = static_cast<unsigned char>(pattern[p]) == c;
      }
      if (match) {
        p = next;
        ++n;
        continue;
      }
    }
    if (star == std::string_view::npos) return false;
    p = star;
    n = ++star_name;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}
