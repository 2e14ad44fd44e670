#include "spacemap/entry_order.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <tuple>

namespace {

struct Entry {
  std::string name;
  uint64_t size;
  std::optional<int64_t> mtime;
};

struct Fields {
  const std::map<EntryId, Entry>& entries;
  uint64_t Size(EntryId id, SortKey) const { return entries.at(id).size; }
  long double Growth(EntryId id, SortKey) const { return static_cast<long double>(entries.at(id).size >> 1) - 5000; }
  std::string_view Name(EntryId id) const { return entries.at(id).name; }
  uint64_t Items(EntryId id) const { return entries.at(id).size % 7; }
  std::optional<int64_t> Mtime(EntryId id) const { return entries.at(id).mtime; }
};

// Every order, narrow ids and wide, against one comparison. Ties
// everywhere: few sizes, sizes past 32 bits, names that are prefixes of
// others, share more than the bytes compared piecewise, or repeat; and
// entries alike in every key, whose first piece compared ends every name.
TEST(EntryOrderTest, SortsAsOneComparisonWould) {
  std::mt19937 random(7);
  const std::string stems[] = {"", "a", "IMG_2023", std::string(70, 'x'), std::string(70, 'x') + "y", "\xff\xfe"};
  const uint64_t sizes[] = {0, 4096, 4096, uint64_t(5) << 32, (uint64_t(5) << 32) + 1, UINT64_MAX};
  for (EntryId first_id : {EntryId{1}, (EntryId{1} << 32) + 1, EntryId{0}}) {
    std::map<EntryId, Entry> entries;
    for (EntryId id = first_id; id < first_id + 400; ++id) {
      std::string name = stems[random() % 6] + std::to_string(random() % 30);
      if (random() % 5 == 0) name.resize(name.size() / 2);
      entries[id] = first_id == 0 ? Entry{"ab", 10, 0}
                                  : Entry{name, sizes[random() % 6],
                                          random() % 3 ? std::optional<int64_t>(random() % 5 - 2) : std::nullopt};
    }
    Fields fields{entries};
    for (int kind = Ordering::kSize; kind <= Ordering::kTime; ++kind)
      for (int variant = 0; variant < 4; ++variant) {
        Ordering ordering;
        ordering.kind = static_cast<Ordering::Kind>(kind);
        ordering.reversed = variant & 1;
        ordering.comparison = variant & 2;
        std::vector<EntryId> ids;
        for (const auto& [id, entry] : entries) ids.push_back(id);
        std::shuffle(ids.begin(), ids.end(), std::mt19937(3));
        std::vector<EntryId> expected = ids;
        auto key = [&](EntryId id) { return std::make_tuple(~PrimaryOf(id, ordering, fields), fields.Name(id), id); };
        std::sort(expected.begin(), expected.end(), [&](EntryId a, EntryId b) { return key(a) < key(b); });
        if (ordering.reversed) std::reverse(expected.begin(), expected.end());
        SortIds(&ids, ordering, fields);
        EXPECT_EQ(ids, expected) << "kind " << kind << " variant " << variant << " ids from " << first_id;
      }
  }
}

}  // namespace
