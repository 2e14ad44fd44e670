// A tree told again as the scan events that built it, for an export of a
// scan held in memory and for a tree rebuilt around a directory walked
// again.
#pragma once

#include <functional>

#include "spacemap/scan_sink.h"
#include "spacemap/tree.h"

// What the tree does not keep of an entry: device, inode and link count.
using IdentityOf = std::function<void(NodeIndex, Item*)>;

// Tells `sink` the subtree of `node`; `identity`, when set, fills in what
// the tree does not keep. A directory's own size is its total less its
// entries'. `skip`, when set, is asked of every entry first: true leaves
// it and its subtree out (the callback may tell `sink` something else in
// their place).
void Replay(const Tree& tree, NodeIndex node, const IdentityOf& identity, ScanSink* sink,
            const std::function<bool(NodeIndex, const Item&)>& skip = nullptr);
