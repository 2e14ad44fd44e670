// A directory whose ancestors let go of their descriptors is found again by
// name, never through a link or another directory put in their place.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dir_read.h"

namespace {

// As the walk does, the platform is told when a directory is done with.
struct TestDir : platform::Dir {
  TestDir(Dir* parent_dir, const char* dir_name) {
    parent = parent_dir;
    name = dir_name;
  }
  ~TestDir() { platform::ForgetDirectory(this); }
};

void Read(platform::Dir* dir) {
  if (platform::BeginRead(dir, true)) platform::ReadPiece(dir, SIZE_MAX, nullptr);
  platform::EndPiece(dir, true);
}

TEST(PosixReaderTest, ReopensAncestorsByNameOnlyAsTheDirectoriesRead) {
  char temp[] = "/tmp/space-reader-XXXXXX";
  ASSERT_NE(mkdtemp(temp), nullptr);
  std::string root = std::string(temp) + "/";
  // The start directory lists one subdirectory for each time one is opened.
  for (const char* dir : {"a", "a/b", "a/b/leaf", "elsewhere", "elsewhere/b", "spare"})
    ASSERT_EQ(mkdir((root + dir).c_str(), 0755), 0);
  TestDir start(nullptr, root.c_str()), a(&start, "a"), b(&a, "b");
  for (TestDir* dir : {&start, &a}) {
    Read(dir);
    platform::ForgetDirectory(dir);
  }
  Read(&b);
  ASSERT_EQ(b.listing.entries.size(), 1u);
  EXPECT_STREQ(b.listing.NameOf(b.listing.entries[0]), "leaf");

  // A link to a directory of the same shape, or such a directory, at "a".
  struct Replacement {
    void (*put)(const std::string& at, const std::string& target);
    std::vector<int> errors;
  };
  const Replacement replacements[] = {
      {[](const std::string& at, const std::string&) { symlink("elsewhere", at.c_str()); }, {ELOOP, ENOTDIR}},
      {[](const std::string& at, const std::string& target) { rename(target.c_str(), at.c_str()); }, {ESTALE}},
  };
  for (const Replacement& replacement : replacements) {
    TestDir again(&start, "a"), b_again(&again, "b");
    Read(&again);
    platform::ForgetDirectory(&again);
    ASSERT_EQ(rename((root + "a").c_str(), (root + "moved").c_str()), 0);
    ASSERT_EQ(mkdir((root + "twin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "twin/b").c_str(), 0755), 0);
    replacement.put(root + "a", root + "twin");
    Read(&b_again);
    EXPECT_NE(std::find(replacement.errors.begin(), replacement.errors.end(), b_again.listing.error),
              replacement.errors.end())
        << b_again.listing.error;
    ASSERT_EQ(system(("rm -rf " + root + "a " + root + "twin && mv " + root + "moved " + root + "a").c_str()), 0);
  }
  EXPECT_EQ(system(("rm -rf " + root).c_str()), 0);
}

}  // namespace
