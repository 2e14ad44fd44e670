// The largest files of a scan, wherever they lie, kept as the scan streams
// by in a heap of at most N: memory grows with N, not with the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "spacemap/first_names.h"
#include "spacemap/scan_sink.h"
#include "spacemap/tree.h"

struct LargeFile {
  uint64_t size;
  std::string path;  // raw bytes below the start, names joined by '/'
  Extended ext;
};

class LargestFiles : public ScanSink {
 public:
  // Files are anything but directories and what was left out; a file with
  // several names counts once, at the first, unless every name counts.
  LargestFiles(size_t count, SortKey key, bool count_links);
  void Enter(const Item& dir) override;
  void Leaf(const Item& item) override;
  void Leave() override;
  // Largest first, equal sizes by path.
  std::vector<LargeFile> Sorted() const;
  // Everything the scan counted, directories too.
  uint64_t Total() const { return total_; }
  const std::string& StartName() const { return start_name_; }
  // The newest time of all the scan holds, as a directory's in the tree.
  const Extended& Newest() const { return newest_; }

 private:
  uint64_t SizeOf(const Item& item) const { return key_ == SortKey::kDisk ? item.dsize : item.asize; }
  void Offer(const Item& item, uint64_t size);

  size_t count_;
  SortKey key_;
  FirstNames first_names_;
  std::vector<LargeFile> heap_;  // the least of them on top
  uint64_t total_ = 0;
  std::string start_name_;
  Extended newest_;
  std::string dir_path_;  // of the directory being read, below the start, ending in '/'
  std::vector<size_t> dir_path_lens_;
};
