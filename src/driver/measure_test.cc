// Whole runs on the fake platform, for what real trees cannot script: drive
// letters and their failures, free space beyond 32 bits, standard output
// that fails part way or gets rows longer than its buffer, and entries with
// attributes or failures of their own.
#include "driver/measure.h"
#include "walk/dir_tree.h"

#include <functional>
#include <string>

#include "fresh_run.h"

namespace {

using fake::Dir;
using fake::File;
using fake::Subdir;

const std::string kLong(70000, 'x');  // a name longer than the output buffer

struct Case {
  const char* what;
  std::function<void()> script;
  std::vector<const char*> args;
  int status;
  std::string out;
  const char* err = "";
};

const Case kCases[] = {
    {"free space beyond 32 bits", [] { fake::DriveAt('C').free_clusters = 2000000; }, {"-b", "-t"}, 0,
     "4096 bytes per cluster\n         1        100   .\\src\n         3       5100   .\n"
     "   2000000 8192000000   free\n"},
    {"the drive the path names",
     [] {
       fake::DriveAt('D').sectors_per_cluster = 4;
       fake::DriveAt('D').free_clusters = 7;
       Dir("D:\\data\\").entries = {File("x", 3000)};
     },
     {"-b", "D:\\data"}, 0, "2048 bytes per cluster\n         2       3000   D:\\data\n         7      14336   free\n"},
    {"a drive that cannot be queried is reported, status 2",
     [] { fake::DriveAt('C').error = fake::kNotReady; }, {"-h"}, 2, "",
     "space: cannot query drive of '.': error 21\n"},
    {"a path on no drive is reported, status 2", [] {}, {"Q:\\x"}, 2, "",
     "space: cannot query drive of 'Q:\\x': error 15\n"},
    {"a row longer than the buffer", [] { Dir(".\\src\\").entries = {File(kLong, 1)}; }, {"-f", "-c0"}, 0,
     "      5000   .\\a.txt\n         1   .\\src\\" + kLong + "\n         1   .\\src\\\n      5001   .\n"
     "   4096000   free\n"},
    {"write error before a long row", [] {
       Dir(".\\src\\").entries = {File(kLong, 1)};
       fake::FailStdoutAfter(0, fake::kDiskFull);
     }, {"-f"}, 2, "", "space: write error: error 112\n"},
    {"write error part way", [] {
       for (int i = 0; i < 5000; ++i) Dir(".\\src\\").entries.push_back(File("file" + std::to_string(i), 1));
       fake::FailStdoutAfter(30, fake::kDiskFull);
     }, {"-f"}, 2, "4096 bytes per cluster\n       ", "space: write error: error 112\n"},
    {"labels skipped, hidden and system counted, directory bit wins",
     [] {
       Dir(".\\").entries = {Subdir("."), Subdir(".."), File("DISK1", 0, platform::kVolumeLabel),
                             File("h", 100, platform::kHidden), File("s", 200, platform::kSystem),
                             File("odd", 0, platform::kDirectory | platform::kVolumeLabel)};
       Dir(".\\odd\\").entries = {File("..x", 7)};
     },
     {"-f", "-c0"}, 0,
     "       100   .\\h\n       200   .\\s\n         7   .\\odd\\..x\n         7   .\\odd\\\n"
     "       307   .\n   4096000   free\n"},
    {"unreadable file, unreadable directory",
     [] {
       fake::Item locked = File("locked", 99);
       locked.error = fake::kAccessDenied;
       Dir(".\\").entries = {Subdir("secret"), locked, File("b", 2)};
       Dir(".\\secret\\").open_error = fake::kAccessDenied;
     },
     {"-f", "-c0"}, 2, "         0   .\\secret\\\n         2   .\\b\n         2   .\n   4096000   free\n",
     "space: cannot read directory '.\\secret': error 5\nspace: cannot read file '.\\locked': error 5\n"},
    {"reading fails part way, below and at the start",
     [] {
       Dir("C:\\").entries = {Subdir("sub"), File("after", 1000), File("never", 8)};
       Dir("C:\\").read_fails_after = 2;
       Dir("C:\\").read_error = 1117;
       Dir("C:\\sub\\").entries = {File("a", 1), File("b", 2), File("never", 4)};
       Dir("C:\\sub\\").read_fails_after = 2;
       Dir("C:\\sub\\").read_error = 1117;
     },
     {"-c0", "C:\\"}, 2, "         3   C:\\sub\n      1003   C:\\\n   4096000   free\n",
     "space: cannot read directory 'C:\\sub': error 1117\nspace: cannot read directory 'C:\\': error 1117\n"},
};

TEST(StartDirectoryTest, AppendsABackslashUnlessThePathEndsADirectoryPrefix) {
  for (auto [typed, walked] : {std::pair{".", ".\\"}, {"", "\\"}, {"C:", "C:"}, {"C:\\", "C:\\"},
                               {"work/", "work/"}, {"dir\\\x95\x5c", "dir\\\x95\x5c\\"},
                               {"\x95\x5c\\", "\x95\x5c\\"}, {"\x95", "\x95\\"}})
    EXPECT_EQ(StartDirectory(typed), walked) << typed;
}

class MeasureTest : public FreshRun {};

// Drive C has clusters of 8 sectors of 512 bytes and 1000 free clusters.
TEST_F(MeasureTest, Table) {
  for (const Case& c : kCases) {
    SetUp();
    SCOPED_TRACE(c.what);
    Dir(".\\").entries = {File("a.txt", 5000), fake::Subdir("src")};
    Dir(".\\src\\").entries = {File("b.c", 100)};
    c.script();
    int status = Apply(c.args);
    EXPECT_EQ(status >= 0 ? status : Measure(), c.status);
    EXPECT_EQ(fake::Stdout(), c.out);
    EXPECT_EQ(fake::Stderr(), c.err);
  }
}

}  // namespace
