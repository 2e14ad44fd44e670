// Writes the treemap page of a directory tree walked here with
// std::filesystem, so that the page is tested apart from any program's walk.
// Sizes as du counts them: a directory holds its own blocks and all below.
// Usage: treemap_page_tool [--apparent] DIR PAGE
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "spacemap/treemap_page.h"

struct Node {
  std::string name;
  PageItem item;
  bool directory;
  std::vector<Node> children;
};

static Node Walk(const std::filesystem::path& path, bool by_apparent) {
  struct stat st;
  lstat(path.c_str(), &st);
  Node node{path.filename(), {"", uint64_t(st.st_blocks) * 512, uint64_t(st.st_size), 1}, S_ISDIR(st.st_mode), {}};
  if (!node.directory) return node;
  node.item.files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    const PageItem& child = node.children.emplace_back(Walk(entry.path(), by_apparent)).item;
    node.item.allocated += child.allocated, node.item.apparent += child.apparent, node.item.files += child.files;
  }
  auto size = [by_apparent](const Node& n) { return by_apparent ? n.item.apparent : n.item.allocated; };
  std::sort(node.children.begin(), node.children.end(),
            [&](const Node& a, const Node& b) { return size(a) != size(b) ? size(a) > size(b) : a.name < b.name; });
  return node;
}

static void Write(TreemapPage& page, Node& node) {
  node.item.name = node.name;
  if (!node.directory) return page.File(node.item);
  if (!page.OpenDirectory(node.item)) return;
  for (Node& child : node.children) Write(page, child);
  page.CloseDirectory();
}

int main(int argc, char** argv) {
  bool by_apparent = argc == 4 && std::strcmp(argv[1], "--apparent") == 0;
  if (argc != 3 + by_apparent) return 2;
  Node root = Walk(argv[1 + by_apparent], by_apparent);
  root.name = argv[1 + by_apparent];
  std::FILE* out = std::fopen(argv[2 + by_apparent], "wb");
  TreemapPage page(out, {root.name, by_apparent});
  Write(page, root);
  return !page.Finish() || std::fclose(out) != 0;
}
