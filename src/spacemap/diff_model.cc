#include "spacemap/diff_model.h"

#include <optional>
#include <unordered_map>

namespace {

// An entry is the pair of its nodes in the old and the new tree, either
// kNone where the entry is only in the other.
constexpr NodeIndex kNone = UINT32_MAX;

EntryId Pair(NodeIndex old_node, NodeIndex new_node) { return uint64_t(old_node) << 32 | new_node; }
NodeIndex OldOf(EntryId id) { return static_cast<NodeIndex>(id >> 32); }
NodeIndex NewOf(EntryId id) { return static_cast<NodeIndex>(id); }

bool IsDir(const Tree& tree, NodeIndex node) { return node != kNone && (tree.At(node).flags & Node::kDir); }

}  // namespace

EntryId DiffModel::Root() {
  return Pair(old_.Empty() ? kNone : old_.Root(), new_.Empty() ? kNone : new_.Root());
}

BrowseEntry DiffModel::Describe(EntryId id) {
  NodeIndex old_node = OldOf(id), new_node = NewOf(id);
  BrowseEntry entry;
  entry.id = id;
  entry.name = new_node != kNone ? new_.NameOf(new_node) : old_.NameOf(old_node);
  entry.dir = IsDir(old_, old_node) || IsDir(new_, new_node);
  for (SortKey key : {SortKey::kDisk, SortKey::kApparent}) {
    entry.size[static_cast<int>(key)] = new_node == kNone ? 0 : new_.SizeOf(new_node, key);
    entry.old_size[static_cast<int>(key)] = old_node == kNone ? 0 : old_.SizeOf(old_node, key);
  }
  if (IsDir(new_, new_node)) entry.items = new_.At(new_node).end - new_node - 1;
  if (new_node == kNone) entry.marks = " [gone]";
  if (old_node == kNone) entry.marks = " [new]";
  return entry;
}

// What sorting compares: the new scan's, or else the old one's.
struct DiffModel::Fields {
  const DiffModel& model;
  uint64_t SizeIn(const Tree& tree, NodeIndex node, SortKey key) const {
    return node == kNone ? 0 : tree.SizeOf(node, key);
  }
  uint64_t Size(EntryId id, SortKey key) const { return SizeIn(model.new_, NewOf(id), key); }
  long double Growth(EntryId id, SortKey key) const {
    return static_cast<long double>(Size(id, key)) - static_cast<long double>(SizeIn(model.old_, OldOf(id), key));
  }
  std::string_view Name(EntryId id) const {
    return NewOf(id) != kNone ? model.new_.NameOf(NewOf(id)) : model.old_.NameOf(OldOf(id));
  }
  uint64_t Items(EntryId id) const {
    return IsDir(model.new_, NewOf(id)) ? model.new_.At(NewOf(id)).end - NewOf(id) - 1 : 0;
  }
  std::optional<int64_t> Mtime(EntryId) const { return std::nullopt; }
};

void DiffModel::Children(EntryId dir, const Ordering& ordering, std::vector<EntryId>* children) {
  NodeIndex old_dir = OldOf(dir), new_dir = NewOf(dir);
  std::unordered_map<std::string_view, NodeIndex> old_children;
  if (IsDir(old_, old_dir))
    for (NodeIndex c = old_dir + 1; c < old_.At(old_dir).end; c = old_.At(c).end) old_children.emplace(old_.NameOf(c), c);
  children->clear();
  if (IsDir(new_, new_dir)) {
    for (NodeIndex c = new_dir + 1; c < new_.At(new_dir).end; c = new_.At(c).end) {
      auto found = old_children.find(new_.NameOf(c));
      NodeIndex old_child = kNone;
      if (found != old_children.end()) {
        old_child = found->second;
        old_children.erase(found);
      }
      children->push_back(Pair(old_child, c));
    }
  }
  for (const auto& [name, old_child] : old_children) children->push_back(Pair(old_child, kNone));
  SortIds(children, ordering, Fields{*this});
}

std::vector<std::string> DiffModel::Details(EntryId id) {
  if (OldOf(id) == kNone) return {"Only in the new scan"};
  if (NewOf(id) == kNone) return {"Only in the old scan"};
  return {"Old disk usage: " + std::to_string(old_.SizeOf(OldOf(id), SortKey::kDisk)) + " bytes",
          "Old apparent size: " + std::to_string(old_.SizeOf(OldOf(id), SortKey::kApparent)) + " bytes"};
}

std::string DiffModel::Status(SortKey key, Units units) {
  BrowseEntry root = Describe(Root());
  uint64_t old_size = root.OldSize(key), new_size = root.Size(key);
  return "Old " + FormatSize(old_size, units) + ", new " + FormatSize(new_size, units) + ", change " +
         FormatChange(old_size, new_size, units);
}
