#include "spacemap/types.h"

#include <algorithm>

#include "spacemap/kinds.h"

namespace {

void Add(KindTotal* to, uint64_t dsize, uint64_t asize, uint64_t files) {
  to->dsize += dsize;
  to->asize += asize;
  to->files += files;
}

}  // namespace

void TypeTotals::Enter(const Item& dir) {
  if (start_name_.empty()) start_name_ = dir.name;
  AddDirectory(dir.dsize, dir.asize);
}

void TypeTotals::Leaf(const Item& item) {
  if (start_name_.empty()) start_name_ = item.name;
  if (item.excluded != Excluded::kNo || first_names_.CountedBefore(item)) return;
  AddFile(item.name, item.dsize, item.asize);
}

void TypeTotals::AddFile(std::string_view name, uint64_t dsize, uint64_t asize) {
  std::string extension = ExtensionOf(name);
  KindTotal& kind = by_extension_[extension];
  if (kind.files == 0) kind.extension = extension;
  Add(&kind, dsize, asize, 1);
  Add(&total_, dsize, asize, 1);
}

void TypeTotals::AddDirectory(uint64_t dsize, uint64_t asize) {
  Add(&directories_, dsize, asize, 1);
  Add(&total_, dsize, asize, 0);
}

std::vector<GroupTotal> TypeTotals::Sorted(SortKey key) const {
  auto before = [key](const KindTotal& a, const KindTotal& b) {
    return a.SizeBy(key) != b.SizeBy(key) ? a.SizeBy(key) > b.SizeBy(key) : a.extension < b.extension;
  };
  std::vector<GroupTotal> groups;
  std::vector<size_t> place_of_group(kKindGroupCount, SIZE_MAX);
  for (const auto& [extension, kind] : by_extension_) {
    size_t group = GroupOf(extension);
    if (place_of_group[group] == SIZE_MAX) {
      place_of_group[group] = groups.size();
      // Named as the group, so that groups of equal size go by name.
      groups.push_back(GroupTotal{group, KindTotal{kKindGroups[group].name}, {}});
    }
    GroupTotal& total = groups[place_of_group[group]];
    Add(&total.sum, kind.dsize, kind.asize, kind.files);
    total.extensions.push_back(kind);
  }
  for (GroupTotal& group : groups) std::sort(group.extensions.begin(), group.extensions.end(), before);
  std::sort(groups.begin(), groups.end(),
            [&before](const GroupTotal& a, const GroupTotal& b) { return before(a.sum, b.sum); });
  return groups;
}
