#include "spacemap/tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Item Named(const char* name, uint64_t dsize, uint64_t ino = 0, uint32_t nlink = 1) {
  Item item;
  item.name = name;
  item.dsize = dsize;
  item.asize = dsize / 2;
  item.ino = ino;
  item.nlink = nlink;
  return item;
}

// /r (4) holding small/ (1 + x 10), big (50), links/ (1 + h1 30 + h2, the
// same file), y (10).
void Build(Tree* tree, bool count_links) {
  TreeBuilder b(tree, count_links);
  b.Enter(Named("/r", 4));
  b.Enter(Named("small", 1));
  b.Leaf(Named("x", 10));
  b.Leave();
  b.Leaf(Named("big", 50));
  b.Enter(Named("links", 1));
  b.Leaf(Named("h1", 30, 7, 2));
  b.Leaf(Named("h2", 30, 7, 2));
  b.Leave();
  b.Leaf(Named("y", 10));
  b.Leave();
}

std::vector<std::string> Walk(const Tree& tree, SortKey key, unsigned max_depth) {
  std::vector<std::string> seen;
  tree.PreOrder(key, [&](NodeIndex node, unsigned depth) {
    seen.push_back(std::to_string(depth) + std::string(tree.NameOf(node)) + "=" + std::to_string(tree.SizeOf(node, key)));
    return depth < max_depth;
  });
  return seen;
}

TEST(TreeTest, PreOrderVisitsChildrenLargestFirstAndStopsWhereTold) {
  Tree tree;
  Build(&tree, false);
  EXPECT_EQ(Walk(tree, SortKey::kDisk, 9),
            (std::vector<std::string>{"0/r=106", "1big=50", "1links=31", "2h1=30", "2h2=0", "1small=11", "2x=10",
                                      "1y=10"}));
  EXPECT_EQ(Walk(tree, SortKey::kApparent, 1),
            (std::vector<std::string>{"0/r=52", "1big=25", "1links=15", "1small=5", "1y=5"}));
  EXPECT_TRUE(tree.At(tree.Find(tree.Find(0, "links"), "h2")).flags & Node::kLinkCountedElsewhere);
}

TEST(TreeTest, EveryNameCountsWhenAsked) {
  Tree tree;
  Build(&tree, true);
  EXPECT_EQ(tree.SizeOf(tree.Root(), SortKey::kDisk), 136u);
  EXPECT_EQ(tree.Find(tree.Root(), "missing"), 0u);
}

}  // namespace
