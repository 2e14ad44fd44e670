#include "spacemap/largest.h"

#include <algorithm>

namespace {

// The order of the list: larger first, then by path.
bool Before(const LargeFile& a, const LargeFile& b) { return a.size != b.size ? a.size > b.size : a.path < b.path; }

}  // namespace

LargestFiles::LargestFiles(size_t count, SortKey key, bool count_links)
    : count_(count), key_(key), first_names_(count_links) {}

void LargestFiles::Enter(const Item& dir) {
  total_ += SizeOf(dir);
  KeepNewest(dir.ext, &newest_);
  if (dir_path_lens_.empty() && start_name_.empty()) {
    start_name_ = dir.name;
    dir_path_lens_.push_back(0);
    return;
  }
  dir_path_lens_.push_back(dir_path_.size());
  dir_path_.append(dir.name);
  dir_path_ += '/';
}

void LargestFiles::Leave() {
  dir_path_.resize(dir_path_lens_.back());
  dir_path_lens_.pop_back();
}

void LargestFiles::Leaf(const Item& item) {
  if (item.excluded != Excluded::kNo || first_names_.CountedBefore(item)) return;
  uint64_t size = SizeOf(item);
  total_ += size;
  KeepNewest(item.ext, &newest_);
  if (dir_path_lens_.empty()) start_name_ = item.name;
  if (count_ > 0) Offer(item, size);
}

// The path is made only for a file that may join the list: on a large
// tree, most are smaller than the least of the list.
void LargestFiles::Offer(const Item& item, uint64_t size) {
  bool full = heap_.size() == count_;
  if (full && size < heap_.front().size) return;
  LargeFile file{size, dir_path_ + std::string(item.name), item.ext};
  if (full) {
    if (!Before(file, heap_.front())) return;
    std::pop_heap(heap_.begin(), heap_.end(), Before);
    heap_.back() = std::move(file);
  } else {
    heap_.push_back(std::move(file));
  }
  std::push_heap(heap_.begin(), heap_.end(), Before);
}

std::vector<LargeFile> LargestFiles::Sorted() const {
  std::vector<LargeFile> sorted = heap_;
  std::sort(sorted.begin(), sorted.end(), Before);
  return sorted;
}
