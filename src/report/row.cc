#include "report/row.h"

#include "driver/opt.h"
#include "report/comma.h"
#include "report/out.h"
#include "report/saturating.h"

namespace {

// Cluster counts stay narrow when clusters are large: at 4295 bytes or more
// a 6-digit count already spans gigabytes.
constexpr uint32_t kNarrowClusterSize = 4295;

constexpr unsigned Bit(ColumnId id) { return 1u << id; }

// Writes the columns of `layout` from `value`; columns in `blank` are left
// empty at their full width.
void PutColumns(const Layout& layout, const uint64_t (&value)[kColumnCount], unsigned blank) {
  for (int i = 0; i < layout.count; ++i) {
    ColumnId id = layout.id[i];
    if (i > 0) OutChar(' ');
    if (blank & Bit(id))
      putnchar(' ', FieldWidth(layout.width[i]));
    else
      OutWrite(comma(value[id], layout.width[i]));
  }
}

}  // namespace

Layout RowLayout(uint32_t clsiz) {
  Layout layout;
  auto add = [&layout](ColumnId id, int width) {
    layout.id[layout.count] = id;
    layout.width[layout.count] = width;
    ++layout.count;
  };
  add(kClusts, clsiz >= kNarrowClusterSize ? 6 : 10);
  if (opt.s && clsiz != 0) add(kAllocated, 10);
  if (opt.b) add(kBytes, 10);
  if (opt.g && clsiz != 0) add(kGap, 10);
  if (opt.n) add(kFiles, 6);
  return layout;
}

const char* ColumnTitle(ColumnId id) {
  static const char* const kTitles[kColumnCount] = {"clusts", "amounts", "bytes", "gap", "files"};
  return kTitles[id];
}

void PutUsageRow(const Layout& layout, uint32_t clsiz, const files_t& total,
                 std::string_view text, std::string_view suffix) {
  uint64_t allocated = SatMul(total.clusts, clsiz);
  const uint64_t value[kColumnCount] = {total.clusts, allocated, total.size,
                                        SatSub(allocated, total.size), total.files};
  PutColumns(layout, value, 0);
  OutWrite("   ");
  OutWrite(text);
  OutWrite(suffix);
  OutChar('\n');
}

void PutFreeRow(const Layout& layout, uint32_t clsiz, uint64_t clusters, uint64_t bytes) {
  const uint64_t value[kColumnCount] = {clusters, SatMul(clusters, clsiz), bytes, 0, 0};
  PutColumns(layout, value, Bit(kGap) | Bit(kFiles));
  OutWrite("   free");
  OutChar('\n');
}
