// Space by kind of file: what the files of each extension take, and the
// groups of kinds above them, summed as the scan streams by.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spacemap/first_names.h"
#include "spacemap/scan_sink.h"
#include "spacemap/tree.h"

struct KindTotal {
  std::string extension;  // empty for the files without one
  uint64_t dsize = 0, asize = 0, files = 0;
  uint64_t SizeBy(SortKey key) const { return key == SortKey::kDisk ? dsize : asize; }
};

struct GroupTotal {
  size_t group = 0;  // in kKindGroups
  KindTotal sum;
  std::vector<KindTotal> extensions;  // largest first
};

class TypeTotals : public ScanSink {
 public:
  // A file with several names counts once, at the first, unless every name counts.
  explicit TypeTotals(bool count_links) : first_names_(count_links) {}
  void Enter(const Item& dir) override;
  void Leaf(const Item& item) override;
  void Leave() override {}
  // For a scan already held in a tree, where the names counted elsewhere are known.
  void AddFile(std::string_view name, uint64_t dsize, uint64_t asize);
  void AddDirectory(uint64_t dsize, uint64_t asize);

  // Groups largest first, each with its extensions largest first; equal
  // sizes by name.
  std::vector<GroupTotal> Sorted(SortKey key) const;
  // The space of the directories themselves, their number as `files`.
  const KindTotal& Directories() const { return directories_; }
  uint64_t Total(SortKey key) const { return total_.SizeBy(key); }
  const std::string& StartName() const { return start_name_; }

 private:
  FirstNames first_names_;
  std::unordered_map<std::string, KindTotal> by_extension_;
  KindTotal directories_, total_;
  std::string start_name_;
};
