#include "spacemap/html_output.h"

#include <charconv>
#include <vector>

#include "spacemap/kinds.h"
#include "spacemap/largest.h"
#include "spacemap/replay.h"
#include "spacemap/treemap_page.h"
#include "spacemap/types.h"

namespace {

// What the page counts as a file: anything measured that is not a directory.
bool IsFile(const Node& node) { return !(node.flags & (Node::kDir | Node::kExcluded)); }

// Files before each node in walk order, and before the end as the last
// element, so that a subtree's files take one subtraction.
std::vector<NodeIndex> FilesBefore(const Tree& tree) {
  std::vector<NodeIndex> before(tree.Size() + 1, 0);
  for (NodeIndex i = 0; i < tree.Size(); ++i) before[i + 1] = before[i] + IsFile(tree.At(i));
  return before;
}

void AppendNumbers(std::initializer_list<uint64_t> numbers, std::string* out) {
  for (uint64_t n : numbers) {
    char digits[24];
    *out += ',';
    out->append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
  }
}

// "groups": [name, extensions] of each group, the index of one naming it.
std::string Groups() {
  std::string json = ",\"groups\":[";
  for (size_t group = 0; group < kKindGroupCount; ++group) {
    json += group ? ",[" : "[";
    json += PageQuotedName(kKindGroups[group].name) + "," + PageQuotedName(kKindGroups[group].extensions) + "]";
  }
  return json + "]";
}

// The tree told again as a scan, each file once: its other names count
// nothing.
void ReplayCounted(const Tree& tree, ScanSink* sink) {
  if (tree.Empty()) return;
  Replay(tree, tree.Root(), nullptr, sink,
         [&tree](NodeIndex node, const Item&) { return (tree.At(node).flags & Node::kLinkCountedElsewhere) != 0; });
}

// "kinds": [group, extension, allocated, apparent, files] of each extension,
// largest first; the page holds them whole, whatever it leaves out of its tiles.
std::string Kinds(const Tree& tree, SortKey key) {
  TypeTotals types(false);
  ReplayCounted(tree, &types);
  std::string json = ",\"kinds\":[";
  bool first = true;
  for (const GroupTotal& group : types.Sorted(key)) {
    for (const KindTotal& kind : group.extensions) {
      json += first ? "[" : ",[";
      first = false;
      json += std::to_string(group.group) + "," + PageQuotedName(kind.extension);
      AppendNumbers({kind.dsize, kind.asize, kind.files}, &json);
      json += "]";
    }
  }
  return json + "]";
}

// "largest": [path below the root, size] of each of the largest files, by the page's size.
std::string Largest(const Tree& tree, SortKey key, size_t count) {
  LargestFiles largest(count, key, false);
  ReplayCounted(tree, &largest);
  std::string json = ",\"largest\":[";
  bool first = true;
  for (const LargeFile& file : largest.Sorted()) {
    json += first ? "[" : ",[";
    first = false;
    json += PageQuotedName(file.path);
    AppendNumbers({file.size}, &json);
    json += "]";
  }
  return json + "]";
}

}  // namespace

bool WriteTreemapPage(const Tree& tree, SortKey key, size_t largest, std::FILE* out) {
  std::string members = Groups() + Kinds(tree, key);
  if (largest) members += Largest(tree, key, largest);
  TreemapPage page(out, {std::string(tree.NameOf(tree.Root())), key == SortKey::kApparent, members});
  std::vector<NodeIndex> files_before = FilesBefore(tree);
  size_t open = 0;  // directories the page entered and has not closed
  tree.PreOrder(key, [&](NodeIndex index, unsigned depth) {
    for (; open > depth; --open) page.CloseDirectory();
    const Node& node = tree.At(index);
    // A directory is marked when anything below it went unread, as the view
    // marks it, so that a tile too small to draw still shows in its frames.
    PageItem item{tree.NameOf(index), node.dsize, node.asize, files_before[node.end] - files_before[index],
                  (node.flags & Node::kErrorBelow) != 0};
    if (!(node.flags & Node::kDir)) {
      page.File(item);
      return false;
    }
    if (!page.OpenDirectory(item)) return false;
    ++open;
    return true;
  });
  for (; open > 0; --open) page.CloseDirectory();
  return page.Finish();
}
