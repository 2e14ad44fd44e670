#include "walk/dir_tree.h"

#include <string>
#include <vector>

#include "fresh_run.h"
#include "platform/platform.h"

namespace {

using fake::Dir;
using fake::File;
using fake::Subdir;

TEST(StartDirectoryTest, AppendsABackslashUnlessThePathEndsADirectoryPrefix) {
  EXPECT_EQ(StartDirectory("."), ".\\");
  EXPECT_EQ(StartDirectory("work"), "work\\");
  EXPECT_EQ(StartDirectory(""), "\\");
  EXPECT_EQ(StartDirectory("C:"), "C:");
  EXPECT_EQ(StartDirectory("C:\\"), "C:\\");
  EXPECT_EQ(StartDirectory("work/"), "work/");
  EXPECT_EQ(StartDirectory("dir\\\x95\x5c"), "dir\\\x95\x5c\\");
  EXPECT_EQ(StartDirectory("\x95"), "\x95\\");
}

class DirTreeTest : public FreshRun {
 protected:
  // A tree that shows the order of rows: files and directories mixed.
  static void MakeMixedTree() {
    Dir(".\\").entries = {File("a", 10), Subdir("x"), File("b", 20), Subdir("y")};
    Dir(".\\x\\").entries = {Subdir("deep"), File("c", 5)};
    Dir(".\\x\\deep\\").entries = {File("d", 1)};
    Dir(".\\y\\");
  }
};

void ExpectTotal(const files_t& total, uint64_t files, uint64_t size, uint64_t clusts) {
  EXPECT_EQ(total.files, files);
  EXPECT_EQ(total.size, size);
  EXPECT_EQ(total.clusts, clusts);
}

TEST_F(DirTreeTest, DirectoryRowsComeAfterEverythingInside) {
  MakeMixedTree();
  ExpectTotal(DirTree(".", 0), 4, 36, 36);
  EXPECT_EQ(Stdout(),
            "         1   .\\x\\deep\n"
            "         6   .\\x\n"
            "         0   .\\y\n");
  EXPECT_EQ(fake::Opened(), (std::vector<std::string>{".\\", ".\\x\\", ".\\x\\deep\\", ".\\y\\"}));
  EXPECT_EQ(fake::Stderr(), "");
}

TEST_F(DirTreeTest, FileRowsInEnumerationOrderAndDirectoryRowsEndInABackslash) {
  MakeMixedTree();
  opt.f = 1;
  DirTree(".", 0);
  EXPECT_EQ(Stdout(),
            "        10   .\\a\n"
            "         1   .\\x\\deep\\d\n"
            "         1   .\\x\\deep\\\n"
            "         5   .\\x\\c\n"
            "         6   .\\x\\\n"
            "        20   .\\b\n"
            "         0   .\\y\\\n");
}

TEST_F(DirTreeTest, FirstLevelOnlyStillCountsEverything) {
  MakeMixedTree();
  opt.t = opt.f = 1;
  ExpectTotal(DirTree(".", 0), 4, 36, 36);
  EXPECT_EQ(Stdout(),
            "        10   .\\a\n"
            "         6   .\\x\\\n"
            "        20   .\\b\n"
            "         0   .\\y\\\n");
}

TEST_F(DirTreeTest, FilesAreRoundedUpToWholeClusters) {
  Dir(".\\").entries = {File("empty", 0), File("one", 4096), File("over", 4097), File("five", 5000)};
  opt.f = opt.s = opt.b = opt.g = opt.n = 1;
  ExpectTotal(DirTree(".", 4096), 4, 13193, 5);
  EXPECT_EQ(Stdout(),
            "         0          0          0          0      1   .\\empty\n"
            "         1       4096       4096          0      1   .\\one\n"
            "         2       8192       4097       4095      1   .\\over\n"
            "         2       8192       5000       3192      1   .\\five\n");
}

TEST_F(DirTreeTest, CountingBytesShowsNeitherAllocatedNorGap) {
  Dir(".\\").entries = {File("five", 5000)};
  opt.f = opt.s = opt.g = 1;
  ExpectTotal(DirTree(".", 0), 1, 5000, 5000);
  EXPECT_EQ(Stdout(), "      5000   .\\five\n");
}

TEST_F(DirTreeTest, SkipsDotEntriesAndVolumeLabelsButCountsHiddenAndSystemFiles) {
  Dir(".\\").entries = {Subdir("."), Subdir(".."), File("DISK1", 0, platform::kVolumeLabel),
                        File("h", 100, platform::kHidden), File("s", 200, platform::kSystem),
                        File("..x", 300)};
  opt.f = 1;
  ExpectTotal(DirTree(".", 0), 3, 600, 600);
  EXPECT_EQ(Stdout(), "       100   .\\h\n       200   .\\s\n       300   .\\..x\n");
  EXPECT_EQ(fake::Opened(), std::vector<std::string>{".\\"});
}

TEST_F(DirTreeTest, DirectoryBitWinsOverVolumeLabel) {
  Dir(".\\").entries = {File("odd", 0, platform::kDirectory | platform::kVolumeLabel)};
  Dir(".\\odd\\").entries = {File("f", 7)};
  ExpectTotal(DirTree(".", 0), 1, 7, 7);
  EXPECT_EQ(Stdout(), "         7   .\\odd\n");
}

TEST_F(DirTreeTest, StartPathsEndingInAColonOrSlashAreUsedAsTyped) {
  Dir("C:").entries = {Subdir("src")};
  Dir("C:src\\").entries = {File("m.c", 3)};
  opt.f = 1;
  DirTree("C:", 0);
  Dir("work/").entries = {Subdir("sub")};
  Dir("work/sub\\");
  DirTree("work/", 0);
  EXPECT_EQ(Stdout(),
            "         3   C:src\\m.c\n"
            "         3   C:src\\\n"
            "         0   work/sub\\\n");
}

TEST_F(DirTreeTest, TotalsAre64Bit) {
  Dir(".\\").entries = {File("big1", 3221225472u), File("big2", 3221225472u), File("huge", 4294967396u)};
  ExpectTotal(DirTree(".", 4096), 3, 10737418340u, 2621441);
}

TEST_F(DirTreeTest, UnreadableEntryIsReportedAndTheRestCounted) {
  fake::Item locked = File("locked", 99);
  locked.error = fake::kAccessDenied;
  Dir(".\\").entries = {File("a", 1), locked, File("b", 2)};
  opt.f = 1;
  ExpectTotal(DirTree(".", 0), 2, 3, 3);
  EXPECT_EQ(Stdout(), "         1   .\\a\n         2   .\\b\n");
  EXPECT_EQ(fake::Stderr(), "space: cannot read file '.\\locked': error 5\n");
  EXPECT_TRUE(AnyFailure());
}

TEST_F(DirTreeTest, DirectoryThatCannotBeOpenedGetsARowOfZeros) {
  Dir(".\\").entries = {Subdir("secret"), File("a", 1)};
  Dir(".\\secret\\").open_error = fake::kAccessDenied;
  ExpectTotal(DirTree(".", 0), 1, 1, 1);
  EXPECT_EQ(Stdout(), "         0   .\\secret\n");
  EXPECT_EQ(fake::Stderr(), "space: cannot read directory '.\\secret': error 5\n");
  EXPECT_TRUE(AnyFailure());
}

TEST_F(DirTreeTest, StartDirectoryThatCannotBeOpenedGivesNoRows) {
  ExpectTotal(DirTree("nowhere", 0), 0, 0, 0);
  EXPECT_EQ(Stdout(), "");
  EXPECT_EQ(fake::Stderr(), "space: cannot read directory 'nowhere': error 3\n");
}

TEST_F(DirTreeTest, ReadFailureKeepsWhatWasCounted) {
  Dir(".\\").entries = {Subdir("sub"), File("after", 1000)};
  Dir(".\\sub\\").entries = {File("a", 1), File("b", 2), File("never", 4)};
  Dir(".\\sub\\").read_fails_after = 2;
  Dir(".\\sub\\").read_error = 1117;
  ExpectTotal(DirTree(".", 0), 3, 1003, 1003);
  EXPECT_EQ(Stdout(), "         3   .\\sub\n");
  EXPECT_EQ(fake::Stderr(), "space: cannot read directory '.\\sub': error 1117\n");
}

TEST_F(DirTreeTest, ReadFailureOfTheStartDirectoryNamesItAsTyped) {
  Dir("C:\\").entries = {File("a", 1), File("b", 2)};
  Dir("C:\\").read_fails_after = 1;
  Dir("C:\\").read_error = 1117;
  ExpectTotal(DirTree("C:\\", 0), 1, 1, 1);
  EXPECT_EQ(fake::Stderr(), "space: cannot read directory 'C:\\': error 1117\n");
}

}  // namespace
