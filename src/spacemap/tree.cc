#include "spacemap/tree.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

std::string_view Tree::NameOf(NodeIndex index) const {
  uint32_t at = nodes_[index].name;
  return chunks_[at / kChunkBytes].get() + at % kChunkBytes;
}

std::vector<NodeIndex> Tree::SortedChildren(NodeIndex dir, SortKey key) const {
  std::vector<NodeIndex> children;
  for (NodeIndex child = dir + 1; child < nodes_[dir].end; child = nodes_[child].end) children.push_back(child);
  std::sort(children.begin(), children.end(), [this, key](NodeIndex a, NodeIndex b) {
    uint64_t size_a = SizeOf(a, key), size_b = SizeOf(b, key);
    return size_a != size_b ? size_a > size_b : NameOf(a) < NameOf(b);
  });
  return children;
}

void Tree::PreOrder(SortKey key, const std::function<bool(NodeIndex, unsigned)>& visit) const {
  if (nodes_.empty()) return;
  struct Level {
    std::vector<NodeIndex> children;
    size_t next = 0;
  };
  std::vector<Level> levels;
  if (visit(Root(), 0)) levels.push_back(Level{SortedChildren(Root(), key)});
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.children.size()) {
      levels.pop_back();
      continue;
    }
    NodeIndex node = level.children[level.next++];
    if (visit(node, static_cast<unsigned>(levels.size())) && (nodes_[node].flags & Node::kDir))
      levels.push_back(Level{SortedChildren(node, key)});
  }
}

Extended Tree::ExtendedOf(NodeIndex index) const {
  Extended ext;
  if (!keeps_extended_) return ext;
  const Extras& extras = extras_[index];
  if (extras.mtime) {
    ext.known |= Extended::kMtime;
    ext.mtime = int64_t(extras.mtime) - 1;
  }
  if (extras.mode) {
    ext.known |= Extended::kMode;
    ext.mode = extras.mode;
  }
  if (extras.owner) {
    const Owner& owner = extras.owner == kOwnerElsewhere ? owners_elsewhere_.at(index) : owners_[extras.owner - 1];
    ext.known |= owner.known;
    ext.uid = owner.uid;
    ext.gid = owner.gid;
  }
  return ext;
}

void Tree::Discount(NodeIndex node, const std::vector<NodeIndex>& above) {
  uint64_t dsize = nodes_[node].dsize, asize = nodes_[node].asize;
  for (NodeIndex dir : above) {
    nodes_[dir].dsize -= std::min<uint64_t>(dsize, nodes_[dir].dsize);
    nodes_[dir].asize -= std::min<uint64_t>(asize, nodes_[dir].asize);
  }
  nodes_[node].dsize = 0;
  nodes_[node].asize = 0;
}

// Names are kept NUL-terminated, each whole in one chunk.
uint32_t TreeBuilder::AddName(std::string_view name) {
  Tree& t = *tree_;
  if (name.size() >= Tree::kChunkBytes) throw std::length_error("a name longer than 64 KiB");
  if (t.chunk_used_ + name.size() + 1 > Tree::kChunkBytes) {
    if (t.chunks_.size() >= UINT32_MAX / Tree::kChunkBytes) throw std::length_error("names beyond 4 GiB");
    // Held before the list grows, so that a list that cannot grow frees it.
    std::unique_ptr<char[]> chunk(new char[Tree::kChunkBytes]);
    t.chunks_.push_back(std::move(chunk));
    t.chunk_used_ = 0;
  }
  char* at = t.chunks_.back().get() + t.chunk_used_;
  memcpy(at, name.data(), name.size());
  at[name.size()] = '\0';
  uint32_t offset = static_cast<uint32_t>((t.chunks_.size() - 1) * Tree::kChunkBytes + t.chunk_used_);
  t.chunk_used_ += name.size() + 1;
  return offset;
}

// The place of `owner` in the tree's table, which it joins when new; past
// the table's room, the node's own entry elsewhere.
uint16_t TreeBuilder::OwnerPlace(NodeIndex index, const Tree::Owner& owner) {
  auto found = owner_places_.find(owner);
  if (found != owner_places_.end()) return found->second;
  Tree& t = *tree_;
  if (t.owners_.size() + 1 >= Tree::kOwnerElsewhere) {
    t.owners_elsewhere_.emplace(index, owner);
    return Tree::kOwnerElsewhere;
  }
  t.owners_.push_back(owner);
  uint16_t place = static_cast<uint16_t>(t.owners_.size());
  owner_places_.emplace(owner, place);
  return place;
}

void TreeBuilder::AddExtras(NodeIndex index, const Extended& ext) {
  Tree::Extras extras{0, 0, 0};
  if (ext.known & Extended::kMtime)
    extras.mtime = static_cast<uint32_t>(std::clamp<int64_t>(ext.mtime, 0, UINT32_MAX - 1) + 1);
  if (ext.known & Extended::kMode) extras.mode = static_cast<uint16_t>(ext.mode);
  uint8_t owner_known = ext.known & (Extended::kUid | Extended::kGid);
  if (owner_known) extras.owner = OwnerPlace(index, Tree::Owner{ext.uid, ext.gid, owner_known});
  tree_->extras_.push_back(extras);
}

// A directory's time is the newest below it.
void TreeBuilder::FoldNewest(NodeIndex dir, NodeIndex child) {
  if (!tree_->keeps_extended_) return;
  uint32_t& newest = tree_->extras_[dir].mtime;
  newest = std::max(newest, tree_->extras_[child].mtime);
}

NodeIndex TreeBuilder::Add(const Item& item, uint8_t flags) {
  if (tree_->nodes_.size() >= UINT32_MAX) throw std::length_error("more than 4 billion entries");
  if (item.read_error) flags |= Node::kReadError | Node::kErrorBelow;
  if (item.excluded != Excluded::kNo) flags |= Node::kExcluded;
  if (item.excluded == Excluded::kOtherFileSystem) flags |= Node::kOtherFileSystem;
  if (item.excluded == Excluded::kKernelFileSystem) flags |= Node::kKernelFileSystem;
  if (item.notreg) flags |= Node::kNotRegular;
  bool counted = !(flags & Node::kDir) && first_names_.CountedBefore(item);
  if (counted) flags |= Node::kLinkCountedElsewhere;
  NodeIndex index = static_cast<NodeIndex>(tree_->nodes_.size());
  // Sizes beyond 2^56 bytes (64 PiB) are no file's: they stop there.
  uint64_t asize = std::min<uint64_t>(counted ? 0 : item.asize, (uint64_t(1) << 56) - 1);
  tree_->nodes_.push_back(Node{counted ? 0 : item.dsize, asize, flags, AddName(item.name), index + 1});
  if (tree_->keeps_extended_) AddExtras(index, item.ext);
  return index;
}

void TreeBuilder::Enter(const Item& dir) { open_.push_back(Add(dir, Node::kDir)); }

void TreeBuilder::Leaf(const Item& item) {
  NodeIndex index = Add(item, 0);
  if (!open_.empty()) {
    Node& parent = tree_->nodes_[open_.back()];
    const Node& leaf = tree_->nodes_[index];
    parent.dsize += leaf.dsize;
    parent.asize = std::min<uint64_t>(parent.asize + leaf.asize, (uint64_t(1) << 56) - 1);
    FoldNewest(open_.back(), index);
  }
}

void TreeBuilder::Leave() {
  NodeIndex index = open_.back();
  open_.pop_back();
  Node& dir = tree_->nodes_[index];
  dir.end = static_cast<NodeIndex>(tree_->nodes_.size());
  if (open_.empty()) return;
  Node& parent = tree_->nodes_[open_.back()];
  parent.dsize += dir.dsize;
  parent.asize = std::min<uint64_t>(parent.asize + dir.asize, (uint64_t(1) << 56) - 1);
  parent.flags |= dir.flags & Node::kErrorBelow;
  FoldNewest(open_.back(), index);
}
