#include "walk/dir_tree.h"

#include <functional>
#include <string>

#include "fresh_run.h"

namespace {

using fake::Dir;
using fake::File;
using fake::Subdir;

TEST(StartDirectoryTest, AppendsABackslashUnlessThePathEndsADirectoryPrefix) {
  for (auto [typed, walked] : {std::pair{".", ".\\"}, {"", "\\"}, {"C:", "C:"}, {"C:\\", "C:\\"},
                               {"work/", "work/"}, {"dir\\\x95\x5c", "dir\\\x95\x5c\\"},
                               {"\x95\x5c\\", "\x95\x5c\\"}, {"\x95", "\x95\\"}})
    EXPECT_EQ(StartDirectory(typed), walked) << typed;
}

// Trees on the fake platform, which delivers entries in a scripted order,
// with attributes and failures that real trees here cannot give: what the
// rows, messages and total must be. Rows of ordinary trees are checked end
// to end against a model of the report.
struct WalkCase {
  const char* name;
  std::function<void()> tree;
  int f;
  const char* start;
  const char* rows;
  const char* errors;
  files_t total;
};

const WalkCase kCases[] = {
    {"labels skipped, hidden and system counted, directory bit wins",
     [] {
       Dir(".\\").entries = {Subdir("."), Subdir(".."), File("DISK1", 0, platform::kVolumeLabel),
                             File("h", 100, platform::kHidden), File("s", 200, platform::kSystem),
                             File("odd", 0, platform::kDirectory | platform::kVolumeLabel)};
       Dir(".\\odd\\").entries = {File("..x", 7)};
     },
     1, ".", "       100   .\\h\n       200   .\\s\n         7   .\\odd\\..x\n         7   .\\odd\\\n", "",
     {3, 307, 307}},
    {"unreadable file, unreadable directory",
     [] {
       fake::Item locked = File("locked", 99);
       locked.error = fake::kAccessDenied;
       Dir(".\\").entries = {Subdir("secret"), locked, File("b", 2)};
       Dir(".\\secret\\").open_error = fake::kAccessDenied;
     },
     1, ".", "         0   .\\secret\\\n         2   .\\b\n",
     "space: cannot read directory '.\\secret': error 5\nspace: cannot read file '.\\locked': error 5\n", {1, 2, 2}},
    {"reading fails part way, below and at the start",
     [] {
       Dir("C:\\").entries = {Subdir("sub"), File("after", 1000), File("never", 8)};
       Dir("C:\\").read_fails_after = 2;
       Dir("C:\\").read_error = 1117;
       Dir("C:\\sub\\").entries = {File("a", 1), File("b", 2), File("never", 4)};
       Dir("C:\\sub\\").read_fails_after = 2;
       Dir("C:\\sub\\").read_error = 1117;
     },
     0, "C:\\", "         3   C:\\sub\n",
     "space: cannot read directory 'C:\\sub': error 1117\nspace: cannot read directory 'C:\\': error 1117\n",
     {3, 1003, 1003}},
};

class DirTreeTest : public FreshRun, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(DirTreeTest, RowsMessagesAndTotal) {
  const WalkCase& c = GetParam();
  c.tree();
  opt.f = c.f;
  files_t total = DirTree(c.start, 0);
  EXPECT_EQ(Stdout(), c.rows);
  EXPECT_EQ(fake::Stderr(), c.errors);
  EXPECT_EQ(AnyFailure(), *c.errors != '\0');
  EXPECT_EQ(std::tie(total.files, total.size, total.clusts), std::tie(c.total.files, c.total.size, c.total.clusts));
}

INSTANTIATE_TEST_SUITE_P(Trees, DirTreeTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
