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
void Build(Tree* tree) {
  TreeBuilder b(tree, false);
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

// The child of `dir` named `name`; 0 when none is.
NodeIndex Find(const Tree& tree, NodeIndex dir, std::string_view name) {
  for (NodeIndex child = dir + 1; child < tree.At(dir).end; child = tree.At(child).end)
    if (tree.NameOf(child) == name) return child;
  return 0;
}

TEST(TreeTest, PreOrderVisitsChildrenLargestFirstAndStopsWhereTold) {
  Tree tree;
  Build(&tree);
  EXPECT_EQ(Walk(tree, SortKey::kDisk, 9),
            (std::vector<std::string>{"0/r=106", "1big=50", "1links=31", "2h1=30", "2h2=0", "1small=11", "2x=10",
                                      "1y=10"}));
  EXPECT_EQ(Walk(tree, SortKey::kApparent, 1),
            (std::vector<std::string>{"0/r=52", "1big=25", "1links=15", "1small=5", "1y=5"}));
  EXPECT_TRUE(tree.At(Find(tree, Find(tree, 0, "links"), "h2")).flags & Node::kLinkCountedElsewhere);
  EXPECT_EQ(Find(tree, tree.Root(), "missing"), 0u);
}

Item Dated(const char* name, int64_t mtime, uint32_t uid) {
  Item item = Named(name, 1);
  uint8_t all = Extended::kMtime | Extended::kUid | Extended::kGid | Extended::kMode;
  item.ext = Extended{all, mtime, uid, uid + 1, 0100644};
  return item;
}

TEST(TreeTest, KeepsTimesOwnersAndModesADirectoryTheNewestBelowIt) {
  Tree tree(true);
  TreeBuilder b(&tree, false);
  b.Enter(Dated("/r", 100, 0));
  b.Enter(Dated("d", 50, 1));
  b.Leaf(Dated("new", 300, 2));
  b.Leave();
  b.Leaf(Dated("before-1970", -5, 3));
  b.Leaf(Dated("after-2106", int64_t(1) << 40, 3));
  Item unknown = Named("unknown", 1);
  unknown.ext = Extended{Extended::kGid, 0, 0, 9, 0};
  b.Leaf(unknown);
  b.Leave();
  auto at = [&](const char* name) {
    Extended ext = tree.ExtendedOf(Find(tree, 0, name));
    return std::vector<int64_t>{ext.known, ext.mtime, ext.uid, ext.gid, ext.mode};
  };
  EXPECT_EQ(tree.ExtendedOf(0).mtime, int64_t(UINT32_MAX) - 1);
  EXPECT_EQ(at("d"), (std::vector<int64_t>{15, 300, 1, 2, 0100644}));
  EXPECT_EQ(at("before-1970"), (std::vector<int64_t>{15, 0, 3, 4, 0100644}));
  EXPECT_EQ(at("unknown"), (std::vector<int64_t>{Extended::kGid, 0, 0, 9, 0}));
  Tree plain;
  Build(&plain);
  EXPECT_EQ(plain.ExtendedOf(0).known, 0);
}

TEST(TreeTest, OwnersPastTheTableAreKeptApart) {
  Tree tree(true);
  TreeBuilder b(&tree, false);
  b.Enter(Dated("/r", 1, 0));
  const uint32_t kOwners = 70000;
  for (uint32_t uid = 1; uid <= kOwners; ++uid) b.Leaf(Dated("f", 1, uid));
  b.Leave();
  for (NodeIndex i : {NodeIndex(1), NodeIndex(65534), NodeIndex(65535), NodeIndex(kOwners)})
    EXPECT_EQ(std::make_pair(tree.ExtendedOf(i).uid, tree.ExtendedOf(i).gid), std::make_pair(i, i + 1));
}

}  // namespace
