#include "spacemap/age_filter.h"

// What was left out of the scan or could not be examined is no file of
// any age: it stays, marked, taking nothing.
void AgeFilter::Leaf(const Item& item) {
  if (item.excluded != Excluded::kNo || item.read_error) return next_->Leaf(item);
  if (!(item.ext.known & Extended::kMtime)) {
    ++untimed_;
    return;
  }
  if (bounds_.before && item.ext.mtime >= *bounds_.before) return;
  if (bounds_.after && item.ext.mtime <= *bounds_.after) return;
  next_->Leaf(item);
}
