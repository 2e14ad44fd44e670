#include "spacemap/html_output.h"

#include <vector>

#include "spacemap/treemap_page.h"

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

}  // namespace

bool WriteTreemapPage(const Tree& tree, SortKey key, std::FILE* out) {
  TreemapPage page(out, {std::string(tree.NameOf(tree.Root())), key == SortKey::kApparent});
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
