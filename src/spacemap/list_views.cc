#include "spacemap/list_views.h"

#include <string>

#include "spacemap/kinds.h"

namespace {

std::string Files(uint64_t files) { return ": " + std::to_string(files) + (files == 1 ? " file" : " files"); }

void PrintKind(const ViewRowPrinter& rows, const KindTotal& kind, uint64_t total, unsigned depth,
               const std::string& label, SortKey key) {
  ViewRow row;
  row.size = kind.SizeBy(key);
  row.total = total;
  row.depth = depth;
  row.label = label;
  rows.Print(row);
}

void PrintExtensions(const ViewRowPrinter& rows, const GroupTotal& group, uint64_t total, const ViewChoices& choices) {
  size_t shown = std::min(group.extensions.size(), choices.top);
  for (size_t i = 0; i < shown; ++i) {
    const KindTotal& kind = group.extensions[i];
    std::string name = kind.extension.empty() ? "(no extension)" : "." + Printable(kind.extension);
    PrintKind(rows, kind, total, 2, name + Files(kind.files), choices.key);
  }
  if (shown == group.extensions.size()) return;
  KindTotal rest;
  for (size_t i = shown; i < group.extensions.size(); ++i) {
    rest.dsize += group.extensions[i].dsize;
    rest.asize += group.extensions[i].asize;
    rest.files += group.extensions[i].files;
  }
  PrintKind(rows, rest, total, 2, "(" + std::to_string(group.extensions.size() - shown) + " more)" + Files(rest.files),
            choices.key);
}

}  // namespace

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

void PrintTypes(const TypeTotals& types, const ViewChoices& view_choices) {
  ViewChoices choices = view_choices;
  choices.time = false;  // a kind has no time of its own
  uint64_t total = types.Total(choices.key);
  ViewRowPrinter rows(choices, total);
  PrintKind(rows, KindTotal{"", total, total, 0}, total, 0, Printable(types.StartName()), SortKey::kDisk);
  const KindTotal& dirs = types.Directories();
  bool dirs_shown = false;
  for (const GroupTotal& group : types.Sorted(choices.key)) {
    if (!dirs_shown && dirs.SizeBy(choices.key) > group.sum.SizeBy(choices.key)) {
      PrintKind(rows, dirs, total, 1, "(directories): " + std::to_string(dirs.files), choices.key);
      dirs_shown = true;
    }
    PrintKind(rows, group.sum, total, 1, kKindGroups[group.group].name + Files(group.sum.files), choices.key);
    if (choices.depth > 0) PrintExtensions(rows, group, total, choices);
  }
  if (!dirs_shown) PrintKind(rows, dirs, total, 1, "(directories): " + std::to_string(dirs.files), choices.key);
}
