// The treemap page of a scan held in memory.
#pragma once

#include <cstdio>

#include "spacemap/tree.h"

// Writes the page of `tree`, areas in proportion to the sizes `key` names,
// to `out`. False when a write failed, with errno telling why.
bool WriteTreemapPage(const Tree& tree, SortKey key, std::FILE* out);
