#include "spacemap/diff.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "report/out.h"

namespace {

constexpr NodeIndex kNone = UINT32_MAX;
constexpr size_t kNoChange = SIZE_MAX;

// An entry whose size changed, held by its nodes and the change of the
// directory above it, so that memory grows with the entries, not with the
// lengths of their paths; the path is spelled for the rows shown.
struct Change {
  NodeIndex old_node, new_node;
  size_t parent;  // kNoChange below the start
  uint64_t old_size, new_size;
  uint64_t Amount() const { return old_size > new_size ? old_size - new_size : new_size - old_size; }
};

// A directory of either tree, or the same directory in both.
struct Pair {
  NodeIndex old_node, new_node;
  size_t change;  // its own, kNoChange at the start
  unsigned depth;
};

class Differ {
 public:
  Differ(const Tree& old_tree, const Tree& new_tree, const ViewChoices& choices)
      : old_(old_tree), new_(new_tree), choices_(choices) {}

  // Every change to the depth, largest first.
  std::vector<Change> Run() {
    std::vector<Pair> pending{Pair{old_.Root(), new_.Root(), kNoChange, 0}};
    while (!pending.empty()) {
      Pair pair = pending.back();
      pending.pop_back();
      if (pair.depth < choices_.depth) Match(pair, &pending);
    }
    return changes_;
  }

  // A change's path below the start, a directory's ending in '/'.
  std::string PathOf(const std::vector<Change>& changes, size_t index) const {
    std::vector<size_t> chain;
    for (size_t at = index; at != kNoChange; at = changes[at].parent) chain.push_back(at);
    std::string path;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
      const Change& change = changes[*at];
      path += Printable(NameOf(change));
      if (IsDir(old_, change.old_node) || IsDir(new_, change.new_node)) path += '/';
    }
    return path;
  }

 private:
  uint64_t SizeIn(const Tree& tree, NodeIndex node) const {
    return node == kNone ? 0 : tree.SizeOf(node, choices_.key);
  }

  static bool IsDir(const Tree& tree, NodeIndex node) {
    return node != kNone && (tree.At(node).flags & Node::kDir) != 0;
  }

  std::string_view NameOf(const Change& change) const {
    return change.new_node != kNone ? new_.NameOf(change.new_node) : old_.NameOf(change.old_node);
  }

  // Pairs the children of a directory in both trees by name.
  void Match(const Pair& pair, std::vector<Pair>* pending) {
    std::unordered_map<std::string_view, NodeIndex> old_children;
    if (IsDir(old_, pair.old_node))
      for (NodeIndex c = pair.old_node + 1; c < old_.At(pair.old_node).end; c = old_.At(c).end)
        old_children.emplace(old_.NameOf(c), c);
    if (IsDir(new_, pair.new_node)) {
      for (NodeIndex c = pair.new_node + 1; c < new_.At(pair.new_node).end; c = new_.At(c).end) {
        auto found = old_children.find(new_.NameOf(c));
        NodeIndex old_child = kNone;
        if (found != old_children.end()) {
          old_child = found->second;
          old_children.erase(found);
        }
        Record(pair, old_child, c, pending);
      }
    }
    for (const auto& [name, old_child] : old_children) Record(pair, old_child, kNone, pending);
  }

  void Record(const Pair& parent, NodeIndex old_node, NodeIndex new_node, std::vector<Pair>* pending) {
    uint64_t old_size = SizeIn(old_, old_node), new_size = SizeIn(new_, new_node);
    if (old_size == new_size) return;
    changes_.push_back(Change{old_node, new_node, parent.change, old_size, new_size});
    if (IsDir(old_, old_node) || IsDir(new_, new_node))
      pending->push_back(Pair{IsDir(old_, old_node) ? old_node : kNone, IsDir(new_, new_node) ? new_node : kNone,
                              changes_.size() - 1, parent.depth + 1});
  }

  const Tree& old_;
  const Tree& new_;
  const ViewChoices& choices_;
  std::vector<Change> changes_;
};

void Row(const std::string& change, const std::string& old_size, const std::string& new_size,
         const std::string& path) {
  auto pad = [](const std::string& text) { return std::string(text.size() < 9 ? 9 - text.size() : 0, ' ') + text; };
  OutWrite(pad(change) + pad(old_size) + pad(new_size) + "  " + path + "\n");
}

}  // namespace

void PrintDiff(const Tree& old_tree, const Tree& new_tree, const ViewChoices& choices) {
  if (old_tree.Empty() || new_tree.Empty()) return;
  Units units = choices.units;
  Row("change", "old", "new", "path");
  uint64_t old_total = old_tree.SizeOf(old_tree.Root(), choices.key);
  uint64_t new_total = new_tree.SizeOf(new_tree.Root(), choices.key);
  Row(FormatChange(old_total, new_total, units), FormatSize(old_total, units), FormatSize(new_total, units),
      Printable(new_tree.NameOf(new_tree.Root())));
  Differ differ(old_tree, new_tree, choices);
  std::vector<Change> changes = differ.Run();
  // Sorted as positions, so that each change still finds its parent.
  std::vector<size_t> order(changes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  size_t shown = std::min(changes.size(), choices.top);
  std::partial_sort(order.begin(), order.begin() + shown, order.end(), [&changes](size_t a, size_t b) {
    return changes[a].Amount() != changes[b].Amount() ? changes[a].Amount() > changes[b].Amount() : a < b;
  });
  for (size_t i = 0; i < shown; ++i) {
    const Change& change = changes[order[i]];
    Row(FormatChange(change.old_size, change.new_size, units), FormatSize(change.old_size, units),
        FormatSize(change.new_size, units), differ.PathOf(changes, order[i]));
  }
  if (changes.size() > shown) OutWrite("(" + std::to_string(changes.size() - shown) + " more changes)\n");
}
