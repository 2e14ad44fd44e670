#include "spacemap/largest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Item File(const char* name, uint64_t dsize, uint64_t ino = 0, uint32_t nlink = 1) {
  Item item;
  item.name = name;
  item.dsize = dsize;
  item.ino = ino;
  item.nlink = nlink;
  return item;
}

std::vector<std::string> Listed(const LargestFiles& largest) {
  std::vector<std::string> listed;
  for (const LargeFile& file : largest.Sorted()) listed.push_back(file.path + "=" + std::to_string(file.size));
  return listed;
}

// /r (1) holding a (5), d/ (1) with b (7), c (5) and h (9, a second name of
// e), e (9), an excluded x, and f (2).
void Feed(LargestFiles* largest) {
  largest->Enter(File("/r", 1));
  largest->Leaf(File("a", 5));
  largest->Enter(File("d", 1));
  largest->Leaf(File("b", 7));
  largest->Leaf(File("c", 5));
  largest->Leaf(File("h", 9, 42, 2));
  largest->Leave();
  largest->Leaf(File("e", 9, 42, 2));
  Item excluded = File("x", 0);
  excluded.excluded = Excluded::kPattern;
  largest->Leaf(excluded);
  largest->Leaf(File("f", 2));
  largest->Leave();
}

TEST(LargestFilesTest, KeepsTheLargestWithTiesByPathEachFileOnce) {
  LargestFiles three(3, SortKey::kDisk, false);
  Feed(&three);
  EXPECT_EQ(Listed(three), (std::vector<std::string>{"d/h=9", "d/b=7", "a=5"}));
  EXPECT_EQ(three.Total(), 30u);
  EXPECT_EQ(three.StartName(), "/r");
  LargestFiles every_name(2, SortKey::kDisk, true);
  Feed(&every_name);
  EXPECT_EQ(Listed(every_name), (std::vector<std::string>{"d/h=9", "e=9"}));
}

}  // namespace
