#include "driver/measure.h"

#include <charconv>
#include <string>

#include "driver/opt.h"
#include "platform/drive.h"
#include "report/diagnostic.h"
#include "report/header.h"
#include "report/out.h"
#include "report/row.h"
#include "report/saturating.h"
#include "walk/dir_tree.h"
#include "walk/tree_walk.h"

namespace {

void PutClusterSizeLine(uint32_t c) {
  char digits[16];
  OutWrite(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, c).ptr - digits));
  OutWrite(" bytes per cluster");
  OutChar('\n');
}

}  // namespace

int Measure() {
  platform::dfree df;
  std::string start = StartDirectory(opt.pathname);
  if (int error = platform::getdfree(opt.drive - 64, start.c_str(), &df)) {
    ReportFailure("cannot query drive of '" + std::string(opt.pathname) + "'", error);
    return 2;
  }
  uint32_t df_bytes_per_cluster = SatNarrow(SatMul(df.df_sclus, df.df_bsec));
  if (!opt.use_c) {
    opt.use_c = 1;
    opt.c = df_bytes_per_cluster;
  }
  if (opt.c) PutClusterSizeLine(opt.c);
  if (opt.h) {
    header();
    headerLine();
  }
  files_t files = DirTree(opt.pathname, opt.c);

  Layout layout = RowLayout(opt.c);
  PutUsageRow(layout, opt.c, files, opt.pathname);
  uint64_t clfree_bytes = SatMul(df.df_avail, df_bytes_per_cluster);
  uint64_t clfree = opt.c ? clfree_bytes / opt.c : clfree_bytes;
  PutFreeRow(layout, opt.c, clfree, clfree_bytes);
  OutFlush();
  return AnyFailure() ? 2 : 0;
}
