// The default view: the largest entries first, as a tree to a depth, each
// with its size, its share of its directory and a bar.
#pragma once

#include <cstddef>

#include "spacemap/tree.h"
#include "spacemap/units.h"

struct ViewChoices {
  unsigned depth = 1;
  size_t top = 20;  // entries per directory; the rest go in one line
  Units units = Units::kBinary;
  SortKey key = SortKey::kDisk;
  bool colour = false;
  int width = 0;  // columns of the terminal; 0 where lines may be any length
};

void PrintView(const Tree& tree, const ViewChoices& choices);

// Why an entry with these Node flags counts as it does, as the views show
// it after its name: " [unreadable]" and the like; empty for most.
const char* MarksOf(uint8_t flags);

// `name` as one line shows it: control bytes become '?'.
std::string Printable(std::string_view name);
// Cuts `text` to `columns` characters of UTF-8, counting one per
// character, and marks the cut with "~".
std::string FitColumns(const std::string& text, size_t columns);
