// The walk's cache of descriptors on a file system in memory: what goes when
// the budget is full, finding a directory again, running out, closing all.
#include "platform/descriptors-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using platform::Descriptors;
using platform::Dir;
using platform::ReadEnd;

// Directories by path from "s", each with the identity of the one there now.
class FakeFs : public platform::DescriptorSystem {
 public:
  std::map<std::string, platform::FileId> ids;
  size_t budget = 10;            // what the cache is given
  size_t limit = 1000;           // descriptors the process may hold
  size_t lower_after = SIZE_MAX;  // opens after which the limit drops to `lowered`
  size_t lowered = 0;
  std::map<int, std::string> open;  // descriptor: path
  size_t opens = 0;
  size_t refused = 0;  // opens that found no descriptor left
  std::string last;  // the last open, as "base + name"

  void Add(const std::string& path) { ids[path] = platform::FileId{1, ids.size() + 1}; }

  size_t Budget() override { return budget; }
  int OpenAt(int dir_fd, const char* name, bool) override {
    if (++opens > lower_after) limit = lowered;
    std::string base = dir_fd == AT_FDCWD ? "" : open.at(dir_fd);
    last = base + "+" + name;
    std::string path = Resolve(base, name);
    if (!ids.count(path)) return Fail(ENOENT);
    if (open.size() >= limit) {
      ++refused;
      return Fail(EMFILE);
    }
    open[next_fd_] = path;
    return next_fd_++;
  }
  bool Is(int fd, const platform::FileId& id) override { return ids.at(open.at(fd)) == id; }
  void Close(int fd) override { EXPECT_EQ(open.erase(fd), 1u) << fd; }

 private:
  static int Fail(int error) {
    errno = error;
    return -1;
  }
  static std::string Resolve(std::string path, const std::string& name) {
    for (size_t at = 0; at < name.size();) {
      size_t end = name.find('/', at);
      if (end == std::string::npos) end = name.size();
      std::string part = name.substr(at, end - at);
      if (part == "..")
        path = path.substr(0, path.rfind('/'));
      else if (!part.empty())
        path += (path.empty() ? "" : "/") + part;
      at = end + 1;
    }
    return path;
  }
  int next_fd_ = 3;
};

// A directory of the walked tree and its subdirectories.
struct Node {
  Dir dir;
  std::string path, name;
  std::vector<std::unique_ptr<Node>> kids;
};

// The tree of `paths` below "s", each listed after its parent.
std::unique_ptr<Node> Tree(FakeFs* fs, const std::vector<std::string>& paths) {
  auto root = std::make_unique<Node>();
  root->path = root->dir.name = "s";
  fs->Add("s");
  std::map<std::string, Node*> nodes{{"s", root.get()}};
  for (const std::string& path : paths) {
    Node* parent = nodes.at(path.substr(0, path.rfind('/')));
    Node* kid = nodes[path] = parent->kids.emplace_back(std::make_unique<Node>()).get();
    kid->path = path;
    kid->name = path.substr(path.rfind('/') + 1);
    kid->dir.parent = &parent->dir;
    kid->dir.name = kid->name.c_str();
    fs->Add(path);
  }
  return root;
}

// One piece of the read, as ReadPiece makes it.
void ReadOn(FakeFs* fs, Node* node) {
  Dir::Handle& h = node->dir.handle;
  if (h.failed) return;
  h.fd = fs->OpenAt(h.at, node->dir.name, !node->dir.parent);
  if (h.fd < 0) {
    if (errno == EMFILE)
      h.out_of_descriptors = true;
    else
      node->dir.listing.error = errno;
    return;
  }
  node->dir.id = fs->ids.at(fs->open.at(h.fd));
  node->dir.listing.subdirs = node->kids.size();
  if (node->kids.empty()) {
    fs->Close(h.fd);
    h.fd = -1;
  }
}

// Reads `node` as the walk does alone, trying again while the cache says so.
ReadEnd Read(Descriptors* cache, FakeFs* fs, Node* node, bool alone = true) {
  for (;;) {
    EXPECT_NE(cache->BeginRead(&node->dir, alone), Descriptors::Begin::kBusy);
    ReadOn(fs, node);
    ReadEnd end = cache->EndPiece(&node->dir, alone);
    if (end != ReadEnd::kRetry || !alone) return end;
  }
}

// Depth first, as one thread walks; every directory is let go once done.
void Walk(Descriptors* cache, FakeFs* fs, Node* node, std::vector<std::string>* errors) {
  Read(cache, fs, node);
  if (node->dir.listing.error) errors->push_back(node->path);
  for (auto& kid : node->kids) Walk(cache, fs, kid.get(), errors);
  cache->Forget(&node->dir);
}

// Each level holds the next, "e", and an empty "d" after it.
std::vector<std::string> Comb(size_t depth) {
  std::vector<std::string> paths;
  std::string path = "s";
  for (size_t i = 0; i < depth; ++i) {
    paths.push_back(path + "/d");
    path += "/e";
    paths.push_back(path);
  }
  return paths;
}

// A chain whose every `every`th level also holds an empty "s", after the next.
std::vector<std::string> Branched(size_t depth, size_t every) {
  std::vector<std::string> paths;
  std::string path = "s";
  for (size_t i = 0; i < depth; ++i) {
    paths.push_back(path + "/d");
    if (i % every == 0) paths.push_back(path + "/s");
    path += "/d";
  }
  return paths;
}

std::vector<std::string> Bushy(const std::string& at, int depth) {
  std::vector<std::string> paths;
  for (int i = 0; depth > 0 && i < 3; ++i) {
    std::string path = at + "/b" + std::to_string(i);
    paths.push_back(path);
    for (const std::string& below : Bushy(path, depth - 1)) paths.push_back(below);
  }
  return paths;
}

TEST(DescriptorsTest, LetsTheLeastRecentlyUsedGoAndNeverAPinnedOne) {
  FakeFs fs;
  auto root = Tree(&fs, {"s/a", "s/a/x", "s/b", "s/b/x", "s/c", "s/c/x"});
  fs.budget = 3;
  Descriptors cache(fs);
  Node *a = root->kids[0].get(), *b = root->kids[1].get(), *c = root->kids[2].get();
  for (Node* node : {root.get(), a, b}) Read(&cache, &fs, node);
  EXPECT_EQ(cache.used(), 3u);
  // `c` pins the start directory, the oldest: `a` goes instead.
  ASSERT_EQ(cache.BeginRead(&c->dir, false), Descriptors::Begin::kReady);
  EXPECT_EQ(fs.open, (std::map<int, std::string>{{3, "s"}, {5, "s/b"}}));
  // `a` is found again in the room of `b`: no room is left for a/x.
  Node* ax = a->kids[0].get();
  EXPECT_EQ(cache.BeginRead(&ax->dir, false), Descriptors::Begin::kBusy);
  EXPECT_EQ(fs.open, (std::map<int, std::string>{{3, "s"}, {6, "s/a"}}));
  EXPECT_EQ(fs.last, "s+a");
  // Alone, the walk goes beyond the budget rather than fail.
  EXPECT_EQ(cache.BeginRead(&ax->dir, true), Descriptors::Begin::kReady);
  EXPECT_EQ(fs.opens, 4u);
  for (Node* node : {c, ax}) {
    ReadOn(&fs, node);
    EXPECT_EQ(cache.EndPiece(&node->dir, false), ReadEnd::kEnded);
  }
  for (Node* node : {a->kids[0].get(), a, b->kids[0].get(), b, c->kids[0].get(), c, root.get()})
    cache.Forget(&node->dir);
  EXPECT_EQ(fs.open.size(), 0u);
}

TEST(DescriptorsTest, FindsADirectoryAgainThroughDotDotOrByNameAndChecksIt) {
  FakeFs fs;
  auto root = Tree(&fs, {"s/a", "s/a/b", "s/a/b/c", "s/a/z"});
  fs.budget = 10;
  Descriptors cache(fs);
  Node *a = root->kids[0].get(), *b = a->kids[0].get();
  for (Node* node : {root.get(), a, b}) Read(&cache, &fs, node);
  cache.Forget(&a->dir);  // as if the budget had let it go
  Node* z = a->kids[1].get();
  ASSERT_EQ(cache.BeginRead(&z->dir, false), Descriptors::Begin::kReady);
  EXPECT_EQ(fs.last, "s/a/b+../");
  ReadOn(&fs, z);
  cache.EndPiece(&z->dir, false);

  // `a` is moved away and another put in its place: neither way finds it.
  cache.Unread(&z->dir);
  cache.Forget(&a->dir);
  fs.Add("s/a");
  EXPECT_EQ(cache.BeginRead(&z->dir, false), Descriptors::Begin::kFailed);
  EXPECT_EQ(fs.last, "s+a");
  EXPECT_EQ(z->dir.listing.error, ESTALE);
  EXPECT_EQ(cache.EndPiece(&z->dir, false), ReadEnd::kEnded);
}

TEST(DescriptorsTest, RunningOutWaitsForOtherReadsAndFailsOnlyAlone) {
  struct Case {
    bool alone;
    bool kept;  // an unpinned kept descriptor to close
    ReadEnd end;
  };
  for (const Case& c : {Case{false, false, ReadEnd::kRetry}, Case{false, true, ReadEnd::kRetry},
                        Case{true, true, ReadEnd::kRetry}, Case{true, false, ReadEnd::kEnded}}) {
    FakeFs fs;
    auto root = Tree(&fs, {"s/a", "s/a/x", "s/b"});
    fs.budget = 10;
    Descriptors cache(fs);
    Node *a = root->kids[0].get(), *b = root->kids[1].get();
    Read(&cache, &fs, root.get());
    if (c.kept) Read(&cache, &fs, a);
    fs.limit = fs.open.size();
    ASSERT_EQ(cache.BeginRead(&b->dir, c.alone), Descriptors::Begin::kReady);
    ReadOn(&fs, b);
    EXPECT_EQ(cache.EndPiece(&b->dir, c.alone), c.end) << c.alone << c.kept;
    EXPECT_EQ(b->dir.listing.error, c.end == ReadEnd::kEnded ? EMFILE : 0);
    EXPECT_LE(cache.budget(), fs.limit);
  }
}

// One thread reads every directory and closes every descriptor, at a few
// opens a directory whatever the budget, and however low the limit goes.
TEST(DescriptorsTest, OneThreadReadsEveryDirectoryAndClosesEveryDescriptor) {
  std::vector<std::string> mixed = Bushy("s", 4);
  for (const std::string& tooth : Comb(30)) mixed.push_back(tooth);
  struct Case {
    std::vector<std::string> paths;
    size_t budget, lower_after, lowered;
  };
  std::vector<Case> cases;
  for (const std::vector<std::string>& paths : {Comb(500), Branched(1000, 50)})
    for (size_t budget : {2, 4, 64}) cases.push_back({paths, budget, SIZE_MAX, 0});
  for (size_t lower_after : {1, 5, 40})
    for (size_t lowered : {2, 3, 5}) cases.push_back({mixed, 50, lower_after, lowered});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.paths.size() << " directories, budget " << c.budget << ", limit "
                                    << c.lowered << " after " << c.lower_after << " opens");
    FakeFs fs;
    auto root = Tree(&fs, c.paths);
    fs.budget = c.budget;
    Descriptors cache(fs);
    fs.lower_after = c.lower_after;
    fs.lowered = c.lowered;
    std::vector<std::string> errors;
    Walk(&cache, &fs, root.get(), &errors);
    EXPECT_EQ(errors, std::vector<std::string>());
    EXPECT_LE(fs.opens, 3 * (c.paths.size() + 1));
    EXPECT_EQ(fs.open.size(), 0u);
    EXPECT_TRUE(c.lowered != 2 || fs.refused > 0);
    if (fs.refused) {
      EXPECT_LE(cache.budget(), c.lowered);
    }
  }
}

// A comb deeper than one way up reaches, every third level's empty directory
// left for the way up, where several are begun at once: a few opens each.
TEST(DescriptorsTest, ReadsBegunAheadOnTheWayUpFindTheirParentsFromBelow) {
  const size_t depth = 3000, deep = 1500;
  FakeFs fs;
  auto root = Tree(&fs, Comb(depth));
  fs.budget = 64;
  Descriptors cache(fs);
  std::vector<Node*> levels{root.get()};
  std::vector<Node*> left;  // the empty ones left for the way up, deepest last
  Read(&cache, &fs, root.get());
  for (size_t i = 0; i < depth; ++i) {
    levels.push_back(levels[i]->kids[1].get());  // "e", after the empty "d"
    Read(&cache, &fs, levels.back());
    Node* empty = levels[i]->kids[0].get();
    if (i < deep && i % 3 == 0) {
      left.push_back(empty);
      continue;
    }
    Read(&cache, &fs, empty, false);
    cache.Forget(&empty->dir);
  }
  for (size_t i = depth; i > deep; --i) cache.Forget(&levels[i]->dir);
  while (!left.empty()) {
    std::vector<Node*> begun;
    for (; !left.empty() && begun.size() < 4; left.pop_back()) {
      ASSERT_EQ(cache.BeginRead(&left.back()->dir, false), Descriptors::Begin::kReady);
      begun.push_back(left.back());
    }
    for (Node* node : begun) {
      ReadOn(&fs, node);
      EXPECT_EQ(cache.EndPiece(&node->dir, false), ReadEnd::kEnded);
      cache.Forget(&node->dir);
    }
  }
  for (size_t i = deep + 1; i-- > 0;) cache.Forget(&levels[i]->dir);
  EXPECT_LE(fs.opens, 3 * (2 * depth + 1));
  EXPECT_EQ(fs.open.size(), 0u);
}

}  // namespace
