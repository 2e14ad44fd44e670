#include "spacemap/glob.h"

#include <gtest/gtest.h>

namespace {

TEST(GlobTest, MatchesAsTheShellDoes) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.log", "x.log", true},       {"*.log", "x.log.1", false},   {"*", "", true},
      {"a*b*c", "aXbYbZc", true},     {"a*b*c", "aXbYbZ", false},    {"?", "", false},
      {"??", "ab", true},             {"[bc]", "c", true},           {"[bc]", "d", false},
      {"[!bc]", "d", true},           {"[^bc]", "b", false},         {"[a-c]x", "bx", true},
      {"[]]", "]", true},             {"[a-]", "-", true},           {"[", "[", true},
      {"\\*", "*", true},             {"\\*", "a", false},           {"node_modules", "node_modules", true},
      {"*\xe9", "caf\xe9", true},     {"*x*", "aaaaaaaaaaaaaaaaaaaay", false},
  };
  for (const Case& c : cases) EXPECT_EQ(GlobMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

}  // namespace
