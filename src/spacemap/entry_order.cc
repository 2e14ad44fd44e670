#include "spacemap/entry_order.h"

void SortKeys(std::vector<SortKeyed>* keyed, bool reversed, std::vector<EntryId>* ids) {
  std::sort(keyed->begin(), keyed->end(), [](const SortKeyed& a, const SortKeyed& b) {
    if (a.primary != b.primary) return a.primary > b.primary;
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return a.name != b.name ? a.name < b.name : a.id < b.id;
  });
  ids->resize(keyed->size());
  for (size_t i = 0; i < keyed->size(); ++i) (*ids)[i] = (*keyed)[i].id;
  if (reversed) std::reverse(ids->begin(), ids->end());
}
