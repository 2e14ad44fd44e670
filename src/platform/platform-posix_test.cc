// What real trees cannot show end to end: a directory whose ancestors let go
// of their descriptors is found again by name, from the start path down, and
// never through a symbolic link put in the place of one of them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"

namespace {

// As the walk does, the platform is told when a directory is done with.
struct TestDir : platform::Dir {
  TestDir(Dir* parent_dir, const char* dir_name) {
    parent = parent_dir;
    name = dir_name;
  }
  ~TestDir() { platform::ForgetDirectory(this); }
};

bool Read(platform::Dir* dir) {
  return platform::ReadDirectory(dir, [](size_t) { return true; });
}

TEST(PosixReaderTest, ReopensAncestorsByNameButNotThroughALink) {
  char temp[] = "/tmp/space-reader-XXXXXX";
  ASSERT_NE(mkdtemp(temp), nullptr);
  std::string root = std::string(temp) + "/";
  for (const char* dir : {"a", "a/b", "a/b/leaf", "elsewhere", "elsewhere/b"})
    ASSERT_EQ(mkdir((root + dir).c_str(), 0755), 0);
  TestDir start(nullptr, root.c_str()), a(&start, "a"), b(&a, "b");
  for (TestDir* dir : {&start, &a}) {
    Read(dir);
    platform::ForgetDirectory(dir);
  }
  Read(&b);
  ASSERT_EQ(b.listing.entries.size(), 1u);
  EXPECT_STREQ(b.listing.NameOf(b.listing.entries[0]), "leaf");

  TestDir a_again(&start, "a"), b_again(&a_again, "b");
  Read(&a_again);
  platform::ForgetDirectory(&a_again);
  ASSERT_EQ(rename((root + "a").c_str(), (root + "moved").c_str()), 0);
  ASSERT_EQ(symlink("elsewhere", (root + "a").c_str()), 0);
  Read(&b_again);
  EXPECT_TRUE(b_again.listing.error == ELOOP || b_again.listing.error == ENOTDIR) << b_again.listing.error;
  EXPECT_EQ(system(("rm -rf " + root).c_str()), 0);
}

}  // namespace
