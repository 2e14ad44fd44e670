// How the browser orders a directory's entries, and the sorting that does
// it in the memory and time a directory of millions allows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "spacemap/tree.h"

using EntryId = uint64_t;

// How a directory's entries are ordered: by size (in a comparison, by
// growth), name, entries below or modification time; names break ties.
struct Ordering {
  enum Kind { kSize, kName, kCount, kTime } kind = kSize;
  SortKey key = SortKey::kDisk;
  bool reversed = false;
  bool comparison = false;
};

// The first key of `id`'s place in `ordering`, larger first, through
// `fields` (Size(id, key), Growth(id, key), Name(id), Items(id), Mtime(id));
// 0 for all where names alone order.
template <typename Fields>
uint64_t PrimaryOf(EntryId id, const Ordering& ordering, const Fields& fields) {
  constexpr uint64_t kSignBit = uint64_t(1) << 63;  // flipped, signed values order as unsigned
  switch (ordering.kind) {
    case Ordering::kSize:
      return ordering.comparison ? static_cast<uint64_t>(static_cast<int64_t>(fields.Growth(id, ordering.key))) ^ kSignBit
                                 : fields.Size(id, ordering.key);
    case Ordering::kCount: return fields.Items(id);
    case Ordering::kTime: {
      std::optional<int64_t> time = fields.Mtime(id);
      return time ? static_cast<uint64_t>(*time) ^ kSignBit : 0;
    }
    case Ordering::kName: break;
  }
  return 0;
}

// `count` (at most 8) bytes of `name` from `at`, zeros past its end, as one
// number: names compare as these do wherever they differ, as no name holds
// a NUL.
inline uint64_t NameBytes(std::string_view name, size_t at, size_t count) {
  uint64_t bytes = 0;
  for (size_t i = at; i < at + count; ++i) bytes = bytes << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0);
  return bytes;
}

// Ids of 32 bits are sorted in their own vector, without a copy of their
// keys, which for a large directory would take more memory than its
// entries do in the scan. While a run of ids is sorted, each one's slot
// holds above it the next 32 bits of its key: the first key, larger
// first, then the name's bytes; a run that ties goes on to the next 32.
// Past kNameDigits of a name in common, the rest is compared whole.
template <typename Fields>
class NarrowSort {
 public:
  static constexpr uint64_t kIdBits = 0xffffffff;
  static constexpr size_t kNameDigits = 16;

  NarrowSort(const Ordering& ordering, const Fields& fields)
      : ordering_(ordering), fields_(fields), primary_digits_(ordering.kind == Ordering::kName ? 0 : 2) {}

  void Sort(EntryId* begin, EntryId* end, size_t digit) {
    if (end - begin < 2) return;
    if (digit == primary_digits_ + kNameDigits) return SortWhole(begin, end);
    bool alike = true;  // as the first key's upper half mostly is
    for (EntryId* slot = begin; slot != end; ++slot) {
      *slot = uint64_t{Digit(*slot & kIdBits, digit)} << 32 | (*slot & kIdBits);
      alike = alike && *slot >> 32 == *begin >> 32;
    }
    if (!alike || EndsNames(digit, *begin)) std::sort(begin, end);
    for (EntryId* run = begin; run != end;) {
      EntryId* run_end = run + 1;
      while (run_end != end && *run_end >> 32 == *run >> 32) ++run_end;
      if (!EndsNames(digit, *run)) Sort(run, run_end, digit + 1);
      run = run_end;
    }
  }

 private:
  // Names hold no NUL: a last byte of 0 ends every name whose slot holds it.
  bool EndsNames(size_t digit, EntryId slot) const { return digit >= primary_digits_ && (slot >> 32 & 0xff) == 0; }

  uint32_t Digit(EntryId id, size_t digit) const {
    if (digit < primary_digits_) {
      uint64_t larger_first = ~PrimaryOf(id, ordering_, fields_);
      return static_cast<uint32_t>(digit == 0 ? larger_first >> 32 : larger_first);
    }
    return static_cast<uint32_t>(NameBytes(fields_.Name(id), (digit - primary_digits_) * 4, 4));
  }

  void SortWhole(EntryId* begin, EntryId* end) const {
    std::sort(begin, end, [this](EntryId a, EntryId b) {
      std::string_view name_a = fields_.Name(a & kIdBits), name_b = fields_.Name(b & kIdBits);
      return name_a != name_b ? name_a < name_b : (a & kIdBits) < (b & kIdBits);
    });
  }

  const Ordering& ordering_;
  const Fields& fields_;
  const size_t primary_digits_;
};

// An entry's place in an order, read once: its first key and its name,
// whose first eight bytes as one number settle most ties without reading
// the name.
struct SortKeyed {
  uint64_t primary;
  uint64_t prefix;
  std::string_view name;
  EntryId id;
};

// Reads, once an entry, what sorting `ids` compares: the names must stay
// where they are until SortKeys has run.
template <typename Fields>
void ReadSortKeys(const std::vector<EntryId>& ids, const Ordering& ordering, const Fields& fields,
                  std::vector<SortKeyed>* keyed) {
  keyed->clear();
  keyed->reserve(ids.size());
  for (EntryId id : ids) {
    std::string_view name = fields.Name(id);
    keyed->push_back(SortKeyed{PrimaryOf(id, ordering, fields), NameBytes(name, 0, 8), name, id});
  }
}

// Sorts what ReadSortKeys read into `ids`, names and then ids breaking ties.
void SortKeys(std::vector<SortKeyed>* keyed, bool reversed, std::vector<EntryId>* ids);

// Sorts `ids` as `ordering` says, names breaking ties and then ids. Ids of
// 32 bits sort in place (NarrowSort); wider ones through a copy of their
// keys, read once an entry: compared in place, their entries lie scattered.
template <typename Fields>
void SortIds(std::vector<EntryId>* ids, const Ordering& ordering, const Fields& fields) {
  using Narrow = NarrowSort<Fields>;
  if (!std::all_of(ids->begin(), ids->end(), [](EntryId id) { return id <= Narrow::kIdBits; })) {
    std::vector<SortKeyed> keyed;
    ReadSortKeys(*ids, ordering, fields, &keyed);
    return SortKeys(&keyed, ordering.reversed, ids);
  }
  Narrow(ordering, fields).Sort(ids->data(), ids->data() + ids->size(), 0);
  for (EntryId& slot : *ids) slot &= Narrow::kIdBits;
  if (ordering.reversed) std::reverse(ids->begin(), ids->end());
}
