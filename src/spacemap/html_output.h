// The treemap page of a scan held in memory.
#pragma once

#include <cstdio>

#include "spacemap/tree.h"

// Writes the page of `tree`, areas in proportion to the sizes `key` names,
// to `out`, with its kinds of files and, when `largest` is not 0, a list
// of that many largest files. False when a write failed, with errno telling why.
bool WriteTreemapPage(const Tree& tree, SortKey key, size_t largest, std::FILE* out);
