// Writes the treemap page of a directory tree walked here with
// std::filesystem, so that the page is tested apart from any program's walk.
// Sizes as du counts them: a directory holds its own blocks and all below.
// Usage: treemap_page_tool [--apparent] DIR PAGE
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "spacemap/treemap_page.h"

namespace {

struct Node {
  std::string name;
  PageItem item;
  bool directory = false;
  std::vector<Node> children;
};

Node Walk(const std::filesystem::path& path, std::string name, bool by_apparent) {
  struct stat st;
  lstat(path.c_str(), &st);
  Node node{std::move(name), {}, S_ISDIR(st.st_mode), {}};
  node.item = {"", uint64_t(st.st_blocks) * 512, uint64_t(st.st_size), node.directory ? 0u : 1u};
  if (!node.directory) return node;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    node.children.push_back(Walk(entry.path(), entry.path().filename(), by_apparent));
    const PageItem& child = node.children.back().item;
    node.item.allocated += child.allocated;
    node.item.apparent += child.apparent;
    node.item.files += child.files;
  }
  auto size = [by_apparent](const Node& n) { return by_apparent ? n.item.apparent : n.item.allocated; };
  std::sort(node.children.begin(), node.children.end(),
            [&](const Node& a, const Node& b) { return size(a) != size(b) ? size(a) > size(b) : a.name < b.name; });
  return node;
}

void Write(TreemapPage& page, Node& node) {
  node.item.name = node.name;
  if (!node.directory) return page.File(node.item);
  if (!page.OpenDirectory(node.item)) return;
  for (Node& child : node.children) Write(page, child);
  page.CloseDirectory();
}

}  // namespace

int main(int argc, char** argv) {
  bool by_apparent = argc == 4 && std::strcmp(argv[1], "--apparent") == 0;
  if (argc != 3 + by_apparent) {
    std::fprintf(stderr, "usage: treemap_page_tool [--apparent] DIR PAGE\n");
    return 2;
  }
  std::string dir = argv[1 + by_apparent];
  Node root = Walk(dir, dir, by_apparent);
  std::FILE* out = std::fopen(argv[2 + by_apparent], "wb");
  TreemapPage page(out, {dir, by_apparent});
  Write(page, root);
  if (!page.Finish()) {
    std::fprintf(stderr, "treemap_page_tool: %s: %s\n", argv[2 + by_apparent], std::strerror(errno));
    return 1;
  }
  return std::fclose(out) != 0;
}
