#include "spacemap/diff.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "report/out.h"

namespace {

constexpr NodeIndex kNone = UINT32_MAX;

struct Change {
  std::string path;
  uint64_t old_size, new_size;
  uint64_t Amount() const { return old_size > new_size ? old_size - new_size : new_size - old_size; }
};

// A directory of either tree, or the same directory in both.
struct Pair {
  NodeIndex old_node, new_node;
  std::string path;  // ending in '/' below the start, empty at the start
  unsigned depth;
};

class Differ {
 public:
  Differ(const Tree& old_tree, const Tree& new_tree, const ViewChoices& choices)
      : old_(old_tree), new_(new_tree), choices_(choices) {}

  std::vector<Change> Run() {
    std::vector<Pair> pending{Pair{old_.Root(), new_.Root(), std::string(), 0}};
    while (!pending.empty()) {
      Pair pair = std::move(pending.back());
      pending.pop_back();
      if (pair.depth < choices_.depth) Match(pair, &pending);
    }
    std::stable_sort(changes_.begin(), changes_.end(),
                     [](const Change& a, const Change& b) { return a.Amount() > b.Amount(); });
    return std::move(changes_);
  }

 private:
  uint64_t SizeIn(const Tree& tree, NodeIndex node) const {
    return node == kNone ? 0 : tree.SizeOf(node, choices_.key);
  }

  static bool IsDir(const Tree& tree, NodeIndex node) {
    return node != kNone && (tree.At(node).flags & Node::kDir) != 0;
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
        Record(pair, old_child, c, new_.NameOf(c), pending);
      }
    }
    for (const auto& [name, old_child] : old_children) Record(pair, old_child, kNone, name, pending);
  }

  void Record(const Pair& parent, NodeIndex old_node, NodeIndex new_node, std::string_view name,
              std::vector<Pair>* pending) {
    std::string path = parent.path + Printable(name);
    uint64_t old_size = SizeIn(old_, old_node), new_size = SizeIn(new_, new_node);
    if (old_size == new_size) return;
    bool dir = IsDir(old_, old_node) || IsDir(new_, new_node);
    changes_.push_back(Change{dir ? path + "/" : path, old_size, new_size});
    if (dir) pending->push_back(Pair{IsDir(old_, old_node) ? old_node : kNone,
                                     IsDir(new_, new_node) ? new_node : kNone, path + "/", parent.depth + 1});
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
  std::vector<Change> changes = Differ(old_tree, new_tree, choices).Run();
  size_t shown = std::min(changes.size(), choices.top);
  for (size_t i = 0; i < shown; ++i)
    Row(FormatChange(changes[i].old_size, changes[i].new_size, units), FormatSize(changes[i].old_size, units),
        FormatSize(changes[i].new_size, units), changes[i].path);
  if (changes.size() > shown) OutWrite("(" + std::to_string(changes.size() - shown) + " more changes)\n");
}
