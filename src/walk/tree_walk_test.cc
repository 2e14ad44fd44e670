// The start path gets a separator unless it ends a directory prefix; a "\"
// that trails a double-byte character (code page 932, Win32 only) ends none.
#include "walk/tree_walk.h"

#include <gtest/gtest.h>

#include "platform/path.h"

namespace {

TEST(StartDirectoryTest, AddsASeparatorUnlessThePathEndsADirectoryPrefix) {
  const bool win32 = platform::kSeparator == '\\';
  struct Case {
    const char* typed;
    const char* posix;
    const char* win32;
  } cases[] = {{".", "./", ".\\"},         {"", "/", "\\"},           {"C:", "C:/", "C:"},
               {"C:\\", "C:\\/", "C:\\"},  {"work/", "work/", "work/"}, {"\x95", "\x95/", "\x95\\"},
               {"dir\\\x95\x5c", "dir\\\x95\x5c/", "dir\\\x95\x5c\\"}, {"\x95\x5c\\", "\x95\x5c\\/", "\x95\x5c\\"}};
  for (const Case& c : cases) EXPECT_EQ(StartDirectory(c.typed), win32 ? c.win32 : c.posix) << c.typed;
}

}  // namespace
