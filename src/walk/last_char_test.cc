#include "walk/last_char.h"

#include <gtest/gtest.h>

namespace {

// The fake platform classifies lead bytes as code page 932 does:
// 0x81-0x9F and 0xE0-0xFC.

TEST(GetLastCharTest, SingleByteCharacters) {
  EXPECT_EQ(GetLastChar("work"), 'k');
  EXPECT_EQ(GetLastChar("C:"), ':');
  EXPECT_EQ(GetLastChar("C:\\"), '\\');
  EXPECT_EQ(GetLastChar("work/"), '/');
  EXPECT_EQ(GetLastChar(""), 0);
}

TEST(GetLastCharTest, SecondByteOfADoubleByteCharacterIsNeverTheLastChar) {
  EXPECT_EQ(GetLastChar("\x95\x5c"), 0);           // a kanji whose second byte is '\'
  EXPECT_EQ(GetLastChar("dir\\\x95\x5c"), 0);
  EXPECT_EQ(GetLastChar("\x83\x5c\x83\x5c"), 0);   // two of them
  EXPECT_EQ(GetLastChar("\x95\x5c\\"), '\\');      // and a real backslash after it
  EXPECT_EQ(GetLastChar("\xe0\x5c"), 0);
  EXPECT_EQ(GetLastChar("\xfc\x5c"), 0);
}

TEST(GetLastCharTest, LoneLeadByteAtTheEnd) {
  EXPECT_EQ(GetLastChar("\x95"), 0);
  EXPECT_EQ(GetLastChar("dir\\\x95"), 0);
}

}  // namespace
