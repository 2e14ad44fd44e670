#include "spacemap/replay.h"

#include <algorithm>
#include <vector>

namespace {

Item ItemOf(const Tree& tree, NodeIndex node, const IdentityOf& identity) {
  const Node& n = tree.At(node);
  Item item;
  item.name = tree.NameOf(node);
  if (identity) identity(node, &item);
  item.dsize = n.dsize;
  item.asize = n.asize;
  item.read_error = n.flags & Node::kReadError;
  item.notreg = n.flags & Node::kNotRegular;
  item.ext = tree.ExtendedOf(node);
  if (n.flags & Node::kExcluded)
    item.excluded = n.flags & Node::kKernelFileSystem  ? Excluded::kKernelFileSystem
                    : n.flags & Node::kOtherFileSystem ? Excluded::kOtherFileSystem
                                                       : Excluded::kPattern;
  // Counted at its first name, its other names would count it again.
  if (n.flags & Node::kLinkCountedElsewhere) item.nlink = 1;
  if (!(n.flags & Node::kDir)) return item;
  for (NodeIndex child = node + 1; child < n.end; child = tree.At(child).end) {
    item.dsize -= std::min(item.dsize, tree.At(child).dsize);
    item.asize -= std::min<uint64_t>(item.asize, tree.At(child).asize);
  }
  return item;
}

}  // namespace

void Replay(const Tree& tree, NodeIndex node, const IdentityOf& identity, ScanSink* sink,
            const std::function<bool(NodeIndex, const Item&)>& skip) {
  std::vector<NodeIndex> open;  // ends of the directories entered
  for (NodeIndex at = node, end = tree.At(node).end; at < end;) {
    while (!open.empty() && at >= open.back()) {
      sink->Leave();
      open.pop_back();
    }
    const Node& n = tree.At(at);
    Item item = ItemOf(tree, at, identity);
    if (skip && skip(at, item)) {
      at = n.end;
      continue;
    }
    if (!(n.flags & Node::kDir)) {
      sink->Leaf(item);
    } else {
      sink->Enter(item);
      open.push_back(n.end);
    }
    ++at;
  }
  for (; !open.empty(); open.pop_back()) sink->Leave();
}
