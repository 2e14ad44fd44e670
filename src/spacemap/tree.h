// A scan held in memory for the sorted views: one compact node per entry,
// in the order of the walk, so that a directory's subtree is the run of
// nodes from it to its `end`. 24 bytes a node plus its name.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spacemap/first_names.h"
#include "spacemap/scan_sink.h"

using NodeIndex = uint32_t;

struct Node {
  enum Flag : uint8_t {
    kDir = 1,
    kReadError = 2,        // this directory could not be read whole
    kErrorBelow = 4,       // something below could not be read
    kExcluded = 8,
    kNotRegular = 16,
    kLinkCountedElsewhere = 32,  // another name of the file holds its size
    kOtherFileSystem = 64,       // with kExcluded: why it was left out
    kKernelFileSystem = 128,
  };
  uint64_t dsize;
  uint64_t asize : 56;
  uint64_t flags : 8;
  uint32_t name;  // where its name starts in the tree's names
  NodeIndex end;  // one past its subtree
};
static_assert(sizeof(Node) == 24, "a node stays compact");

enum class SortKey { kDisk, kApparent };

class Tree {
 public:
  // `keep_extended`: the tree keeps each entry's time, owner and mode as
  // well, 8 bytes a node more; without it, it keeps none of them.
  explicit Tree(bool keep_extended = false) : keeps_extended_(keep_extended) {}
  bool KeepsExtended() const { return keeps_extended_; }
  // What the tree keeps of a node's time, owner and mode (nothing unless it
  // keeps them). A directory's time is the newest of its own and those of
  // everything below it; a time is kept in seconds from 1970 to 2106, one
  // outside those bounds as the nearest of them.
  Extended ExtendedOf(NodeIndex index) const;
  const Node& At(NodeIndex index) const { return nodes_[index]; }
  std::string_view NameOf(NodeIndex index) const;
  NodeIndex Root() const { return 0; }
  bool Empty() const { return nodes_.empty(); }
  NodeIndex Size() const { return static_cast<NodeIndex>(nodes_.size()); }
  uint64_t SizeOf(NodeIndex index, SortKey key) const {
    return key == SortKey::kDisk ? nodes_[index].dsize : nodes_[index].asize;
  }
  // Children of a directory, largest first; equal sizes by name.
  std::vector<NodeIndex> SortedChildren(NodeIndex dir, SortKey key) const;
  // Every node in pre-order, each directory's children largest first:
  // `visit(index, depth)` answers whether to go below the node. Without
  // recursion, holding one sorted list of children per level.
  void PreOrder(SortKey key, const std::function<bool(NodeIndex, unsigned depth)>& visit) const;
  // An entry removed from the disk: its sizes are taken off it and off
  // `above`, directories over it whose totals include it.
  void Discount(NodeIndex node, const std::vector<NodeIndex>& above);

 private:
  friend class TreeBuilder;
  static constexpr size_t kChunkBytes = 64 * 1024;
  // Nodes and names grow by blocks, never by copying what is held.
  std::deque<Node> nodes_;
  std::vector<std::unique_ptr<char[]>> chunks_;
  size_t chunk_used_ = kChunkBytes;

  // Time, owner and mode in 8 bytes: a node names its owner and group by
  // their place in `owners_`, since a tree holds few of them.
  struct Extras {
    uint32_t mtime;  // seconds from 1970 plus 1; 0 when unknown
    uint16_t mode;   // 0 when unknown
    uint16_t owner;  // 1 + place in owners_; 0 when unknown, kOwnerElsewhere past the table
  };
  static_assert(sizeof(Extras) == 8, "a node's extras stay within 8 bytes");
  struct Owner {
    uint32_t uid, gid;
    uint8_t known;  // Extended::kUid and kGid
    bool operator==(const Owner& other) const {
      return uid == other.uid && gid == other.gid && known == other.known;
    }
  };
  static constexpr uint16_t kOwnerElsewhere = UINT16_MAX;
  const bool keeps_extended_;
  std::deque<Extras> extras_;  // one a node, when kept
  std::vector<Owner> owners_;
  std::unordered_map<NodeIndex, Owner> owners_elsewhere_;  // of nodes past the table's room
};

// Builds a Tree from a scan: directory totals include everything below, a
// file with several names counts once where its first name is met (unless
// every name counts), and a directory's flags tell of errors below it.
class TreeBuilder : public ScanSink {
 public:
  TreeBuilder(Tree* tree, bool count_links) : tree_(tree), first_names_(count_links) {}
  void Enter(const Item& dir) override;
  void Leaf(const Item& item) override;
  void Leave() override;

 private:
  NodeIndex Add(const Item& item, uint8_t flags);
  uint32_t AddName(std::string_view name);
  void AddExtras(NodeIndex index, const Extended& ext);
  uint16_t OwnerPlace(NodeIndex index, const Tree::Owner& owner);
  void FoldNewest(NodeIndex dir, NodeIndex child);
  struct OwnerHash {
    size_t operator()(const Tree::Owner& o) const { return std::hash<uint64_t>()(uint64_t(o.uid) << 32 | o.gid); }
  };

  Tree* tree_;
  FirstNames first_names_;
  std::vector<NodeIndex> open_;  // directories entered and not left
  std::unordered_map<Tree::Owner, uint16_t, OwnerHash> owner_places_;
};
