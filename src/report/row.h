// The layout of a usage row: the numeric columns that the options show, in
// their order and widths, then three blanks and the row text. The headings
// are laid out from the same columns.
#pragma once

#include <cstdint>
#include <string_view>

#include "walk/files.h"

enum ColumnId { kClusts, kAllocated, kBytes, kGap, kFiles, kColumnCount };

struct Layout {
  int count = 0;                 // columns shown
  ColumnId id[kColumnCount];     // in the order they are printed
  int width[kColumnCount];       // nominal widths (10 or 6), before opt.C widens them
};

// The columns that rows counted in clusters of `clsiz` bytes show.
Layout RowLayout(uint32_t clsiz);
const char* ColumnTitle(ColumnId id);

// A row for a total counted in clusters of `clsiz` bytes; `text` is written
// after the columns and three blanks, `suffix` right after it.
void PutUsageRow(const Layout& layout, uint32_t clsiz, const files_t& total,
                 std::string_view text, std::string_view suffix = {});

// The free row: `clusters` of `clsiz` bytes out of `bytes` free bytes; its gap
// and files columns are blank.
void PutFreeRow(const Layout& layout, uint32_t clsiz, uint64_t clusters, uint64_t bytes);
