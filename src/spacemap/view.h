// The default view: the largest entries first, as a tree to a depth, each
// with its size, its share of its directory and a bar.
#pragma once

#include <cstddef>

#include "spacemap/tree.h"
#include "spacemap/units.h"

struct ViewChoices {
  size_t largest = 0;  // when not 0: the largest files of the whole scan instead of the tree
  bool types = false;  // space by kind of file instead of the tree
  unsigned depth = 1;
  size_t top = 20;  // entries per directory; the rest go in one line
  Units units = Units::kBinary;
  SortKey key = SortKey::kDisk;
  bool colour = false;
  int width = 0;  // columns of the terminal; 0 where lines may be any length
  bool time = false;  // each entry's newest modification time, from its Extended
};

void PrintView(const Tree& tree, const ViewChoices& choices);

// One line of a view: its size, its share of `total`, a bar, the time
// where asked for, and the label indented by depth.
struct ViewRow {
  uint64_t size = 0, total = 0;
  unsigned depth = 0;
  std::string label;  // printable; a directory's ends in '/'
  std::string marks;  // what went wrong with it, shown in red
  Extended ext;
};

class ViewRowPrinter {
 public:
  // `largest`: the largest size to be shown, which sizes in bytes are as wide as.
  ViewRowPrinter(const ViewChoices& choices, uint64_t largest);
  void Print(const ViewRow& row) const;

 private:
  std::string Bar(uint64_t size, uint64_t total) const;
  std::string Colour(const char* code, const std::string& text) const;

  const ViewChoices& choices_;
  size_t bar_;
  size_t size_columns_;
};

// An entry's time as a row shows it, local time to the minute as du --time
// does, "-" where it is not known; always kTimeColumns wide.
std::string FormatTime(const Extended& ext);
constexpr size_t kTimeColumns = 16;

// Why an entry with these Node flags counts as it does, as the views show
// it after its name: " [unreadable]" and the like; empty for most.
const char* MarksOf(uint8_t flags);

// `name` as one line shows it: a control character, and each byte that is
// not UTF-8, becomes '?'.
std::string Printable(std::string_view name);
// Cuts `text` to `columns` characters of UTF-8, counting one per
// character, and marks the cut with "~".
std::string FitColumns(const std::string& text, size_t columns);
