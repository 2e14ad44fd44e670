#include "spacemap/live_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

Item Entry(const char* name, uint64_t size) {
  Item item;
  item.name = name;
  item.dsize = item.asize = size;
  return item;
}

using Listing = std::vector<std::tuple<std::string, uint64_t, bool>>;

// Names, sizes and whether still scanned, of a directory's entries.
Listing Listed(LiveTree& tree, EntryId dir) {
  std::vector<std::tuple<std::string, uint64_t, bool>> listed;
  std::vector<EntryId> children;
  tree.Children(dir, Ordering(), &children);
  for (EntryId id : children) {
    BrowseEntry entry = tree.Describe(id);
    listed.emplace_back(entry.name, entry.size[0], entry.scanning);
  }
  return listed;
}

TEST(LiveTreeTest, OpenDirectoriesShowWhatIsCountedSoFar) {
  ScanChoices choices;
  LiveTree tree("/start", choices, false, false);
  EXPECT_EQ(Listed(tree, tree.Root()), Listing{});
  EXPECT_TRUE(tree.Describe(tree.Root()).scanning);
  tree.Enter(Entry("/start", 1));
  tree.Leaf(Entry("file", 10));
  tree.Enter(Entry("done", 2));
  tree.Leaf(Entry("inside", 20));
  tree.Leave();
  tree.Enter(Entry("open", 4));
  tree.Enter(Entry("deeper", 8));
  tree.Leaf(Entry("deepest", 100));
  EXPECT_EQ(Listed(tree, 0), (Listing{{"open", 112, true}, {"done", 22, false}, {"file", 10, false}}));
  EXPECT_EQ(Listed(tree, 4), (Listing{{"deeper", 108, true}}));
  EXPECT_EQ(tree.Describe(0).size[0], 1 + 10 + 22 + 112u);
  EXPECT_EQ(tree.Describe(4).items, 2u);
  EXPECT_EQ(tree.Status(SortKey::kDisk, Units::kBytes), "Scanning: 3 files, 130 in /start/open/deeper");
  tree.Leave();
  tree.Leaf(Entry("late", 1000));
  EXPECT_EQ(Listed(tree, 0), (Listing{{"open", 1112, true}, {"done", 22, false}, {"file", 10, false}}));
  tree.Stop();
  EXPECT_THROW(tree.Leaf(Entry("never", 1)), ScanStopped);
  tree.Finish();
  EXPECT_TRUE(tree.Done());
}

// A finished directory deleted while the walk is in its parent counts once.
TEST(LiveTreeTest, DeletingDuringTheWalkKeepsTotalsRight) {
  char pattern[] = "/tmp/live-tree-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string root = pattern;
  ASSERT_EQ(mkdir((root + "/open").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root + "/open/gone").c_str(), 0755), 0);
  std::ofstream(root + "/open/gone/file") << "data";
  auto item = [](const std::string& path, const char* name, uint64_t size) {
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0);
    Item it = Entry(name, size);
    it.dev = st.st_dev;
    it.ino = st.st_ino;
    return it;
  };
  Item start = item(root, root.c_str(), 1), open = item(root + "/open", "open", 2);
  Item gone = item(root + "/open/gone", "gone", 4), file = item(root + "/open/gone/file", "file", 100);
  ScanChoices choices;
  LiveTree tree(root, choices, false, true);
  tree.Enter(start);
  tree.Enter(open);
  tree.Enter(gone);
  tree.Leaf(file);
  tree.Leave();
  EXPECT_EQ(tree.Describe(0).size[0], 107u);
  EXPECT_EQ(tree.Remove({0, 1, 2}), "");
  EXPECT_NE(access((root + "/open/gone").c_str(), F_OK), 0);
  EXPECT_EQ(Listed(tree, 1), Listing{});
  EXPECT_EQ(tree.Describe(0).size[0], 3u);
  tree.Leave();
  tree.Leave();
  tree.Finish();
  EXPECT_EQ(tree.Describe(0).size[0], 3u);
  EXPECT_EQ(tree.Describe(0).items, 1u);
  EXPECT_EQ(rmdir((root + "/open").c_str()), 0);
  EXPECT_EQ(rmdir(root.c_str()), 0);
}

}  // namespace
