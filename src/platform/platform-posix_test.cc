// The POSIX reader on real directories, against what libc's readdir and
// lstat say of them.
#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

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

class PosixReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/space-reader-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = std::string(dir) + "/";
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + root_).c_str()), 0); }

  void File(const std::string& name, size_t size) {
    std::ofstream(root_ + name) << std::string(size, 'x');
  }
  void Mkdir(const std::string& name) { ASSERT_EQ(mkdir((root_ + name).c_str(), 0755), 0); }

  // The names libc's readdir gives, in its order, less "." and "..".
  std::vector<std::string> ReaddirOrder(const std::string& dir) {
    std::vector<std::string> names;
    DIR* stream = opendir(dir.c_str());
    while (struct dirent* d = readdir(stream))
      if (!platform::IsDotOrDotDot(d->d_name)) names.push_back(d->d_name);
    closedir(stream);
    return names;
  }

  std::string root_;
};

TEST_F(PosixReaderTest, ListsEveryEntryInTheFileSystemsOrderWithItsOwnSize) {
  for (int i = 0; i < 300; ++i) File("f" + std::to_string(i), static_cast<size_t>(i * 7));
  Mkdir("sub");
  ASSERT_EQ(symlink("sub", (root_ + "link").c_str()), 0);
  TestDir dir(nullptr, root_.c_str());
  platform::ReadDirectory(&dir);
  EXPECT_EQ(dir.listing.error, 0);
  std::vector<std::string> names;
  for (const platform::Entry& entry : dir.listing.entries) {
    std::string name = dir.listing.NameOf(entry);
    names.push_back(name);
    struct stat st;
    ASSERT_EQ(lstat((root_ + name).c_str(), &st), 0);
    EXPECT_EQ(entry.attrib == platform::kDirectory, S_ISDIR(st.st_mode)) << name;
    EXPECT_EQ(entry.size, S_ISDIR(st.st_mode) ? 0u : static_cast<uint64_t>(st.st_size)) << name;
    EXPECT_EQ(entry.error, 0);
  }
  EXPECT_EQ(names, ReaddirOrder(root_));
}

TEST_F(PosixReaderTest, WhatCannotBeReadIsAnErrorOfTheListing) {
  File("file", 1);
  for (auto [name, error] : {std::pair{"missing/", ENOENT}, {"file/", ENOTDIR}}) {
    std::string path = root_ + name;
    TestDir dir(nullptr, path.c_str());
    platform::ReadDirectory(&dir);
    EXPECT_EQ(dir.listing.error, error) << name;
    EXPECT_TRUE(dir.listing.entries.empty());
  }
}

// A directory whose parent let go of its descriptor is found again by name,
// from the start path down, and never through a symbolic link.
TEST_F(PosixReaderTest, ReopensAncestorsByNameButNotThroughALink) {
  Mkdir("a");
  Mkdir("a/b");
  File("a/b/leaf", 5);
  Mkdir("elsewhere");
  Mkdir("elsewhere/b");
  TestDir start(nullptr, root_.c_str()), a(&start, "a"), b(&a, "b");
  platform::ReadDirectory(&start);
  platform::ForgetDirectory(&start);
  platform::ReadDirectory(&a);
  platform::ForgetDirectory(&a);
  platform::ReadDirectory(&b);
  ASSERT_EQ(b.listing.entries.size(), 1u);
  EXPECT_STREQ(b.listing.NameOf(b.listing.entries[0]), "leaf");

  TestDir a_again(&start, "a"), b_again(&a_again, "b");
  platform::ReadDirectory(&a_again);
  platform::ForgetDirectory(&a_again);
  ASSERT_EQ(rename((root_ + "a").c_str(), (root_ + "moved").c_str()), 0);
  ASSERT_EQ(symlink("elsewhere", (root_ + "a").c_str()), 0);
  platform::ReadDirectory(&b_again);
  int error = b_again.listing.error;
  EXPECT_TRUE(error == ELOOP || error == ENOTDIR) << error;
}

}  // namespace
