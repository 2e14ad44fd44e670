// The start path as the walk opens it and prints it in front of every name:
// a separator is added unless the path already ends a directory prefix. A
// trail byte of a double-byte character that happens to be "\" ends
// nothing. Code page 932 has such lead bytes, on Win32 only, where it is the
// process's ANSI code page: the Win32 run sets a Japanese locale for this.
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
