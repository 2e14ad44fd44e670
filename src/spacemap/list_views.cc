#include "spacemap/list_views.h"

void PrintLargest(const LargestFiles& largest, const ViewChoices& choices) {
  ViewRowPrinter rows(choices, largest.Total());
  ViewRow start;
  start.size = start.total = largest.Total();
  start.label = Printable(largest.StartName());
  start.ext = largest.Newest();
  rows.Print(start);
  for (const LargeFile& file : largest.Sorted()) {
    ViewRow row;
    row.size = file.size;
    row.total = largest.Total();
    row.depth = 1;
    row.label = Printable(file.path);
    row.ext = file.ext;
    rows.Print(row);
  }
}
