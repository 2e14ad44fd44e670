#include "spacemap/view.h"

#include <gtest/gtest.h>

// A terminal is given UTF-8 it can show, and '?' for anything else: a
// control character, or each byte of what is not UTF-8.
TEST(PrintableTest, ShowsUtf8AndMarksTheRest) {
  const struct {
    const char* name;
    const char* shown;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\x81", "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\x81"},
      {"new\nline\x7f", "new?line?"},
      {"\xff\xfe", "??"},
      {"latin\xe9", "latin?"},
      {"\xc0\xaf", "??"},                // overlong
      {"\xed\xa0\x80", "???"},           // a surrogate
      {"\xf4\x90\x80\x80", "????"},      // beyond U+10FFFF
      {"\xe6\x97", "??"},                 // cut short
      {"\xe6\x97x", "??x"},
      {"c1\xc2\x85", "c1?"},              // a C1 control, one character
      {"\xc2\xa0", "\xc2\xa0"},            // the first character past them
  };
  for (const auto& c : cases) EXPECT_EQ(Printable(c.name), c.shown) << c.name;
}
