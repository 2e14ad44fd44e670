#include "spacemap/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EscapedTest, ShowsTextAndEscapesTheRest) {
  struct {
    std::string name, shown;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xc3\xa9 \xe6\x97\xa5", "caf\xc3\xa9 \xe6\x97\xa5"},
      {"esc\x1b[2J", "esc\\x1b[2J"},
      {"bad\xff", "bad\\xff"},
      {"cut\xe6\x97", "cut\\xe6\\x97"},
      {"c1\xc2\x9b", "c1\\xc2\\x9b"},
      {"overlong\xc0\xaf", "overlong\\xc0\\xaf"},
      {"surrogate\xed\xa0\x80", "surrogate\\xed\\xa0\\x80"},
      {"del\x7f", "del\\x7f"},
  };
  for (const auto& c : cases) EXPECT_EQ(Escaped(c.name), c.shown);
}

}  // namespace
