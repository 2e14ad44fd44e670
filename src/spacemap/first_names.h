// Which names of a file with several count: the first one a scan meets
// holds its size, every later one counts as nothing, unless every name is
// to count.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_set>

#include "spacemap/scan_sink.h"

class FirstNames {
 public:
  explicit FirstNames(bool count_links) : count_links_(count_links) {}
  // True when `item`, no directory, is a file whose size another name
  // already counted.
  bool CountedBefore(const Item& item) {
    if (count_links_ || !SharesIdentity(item)) return false;
    return !seen_.insert(Identity{item.dev, item.ino}).second;
  }

 private:
  struct Identity {
    uint64_t dev, ino;
    bool operator==(const Identity& other) const { return dev == other.dev && ino == other.ino; }
  };
  struct IdentityHash {
    size_t operator()(const Identity& id) const { return std::hash<uint64_t>()(id.ino * 31 + id.dev); }
  };

  bool count_links_;
  std::unordered_set<Identity, IdentityHash> seen_;
};
