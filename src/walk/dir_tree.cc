#include "walk/dir_tree.h"

#include <vector>

#include "driver/opt.h"
#include "platform/listing.h"
#include "platform/path.h"
#include "report/diagnostic.h"
#include "report/out.h"
#include "report/progress.h"
#include "report/row.h"
#include "walk/tree_walk.h"

namespace {

uint64_t Clusters(uint64_t size, uint32_t clsiz) {
  if (size == 0 || clsiz == 0) return size;
  return size / clsiz + (size % clsiz != 0);
}

// The rows of one walk, in its order. Each directory being walked has its
// total so far on `totals_`, which it adds to its parent's once left.
class Rows : public TreeWalk::Consumer {
 public:
  Rows(const char* pathname, uint32_t clsiz)
      : clsiz_(clsiz), layout_(RowLayout(clsiz)), walk_(pathname, pathname, this) {}

  files_t Run() { return walk_.Run() ? totals_[0] : files_t(); }

 private:
  bool Arrive(const platform::Listing&, const platform::Listing*, size_t) override {
    totals_.emplace_back();
    return true;
  }

  void Entry(const platform::Listing& listing, size_t i) override {
    const platform::Entry& entry = listing.entries[i];
    if (entry.attrib & platform::kVolumeLabel) return;
    const char* name = listing.NameOf(entry);
    if (entry.error) return ReportFailure("cannot read file '" + walk_.Path() + name + "'", entry.error);
    files_t file(1, entry.size, Clusters(entry.size, clsiz_));
    totals_.back() += file;
    ProgressFile(entry.size);
    if (opt.f && RowsWanted()) PutUsageRow(layout_, clsiz_, file, walk_.Path(), name);
  }

  // A directory that could not be read (wholly) is told of after the rows
  // of what it held, and before its own row.
  void Leave(const platform::Listing& listing) override {
    if (listing.error) ReportFailure("cannot read directory '" + std::string(walk_.DirName()) + "'", listing.error);
    if (totals_.size() == 1) return;  // the start directory's, for the total row
    files_t total = totals_.back();
    totals_.pop_back();
    if (RowsWanted()) PutUsageRow(layout_, clsiz_, total, opt.f ? std::string_view(walk_.Path()) : walk_.DirName());
    totals_.back() += total;
  }

  bool Stopped() override { return OutFailed(); }  // nobody sees the rest

  // Rows are printed only for the first level below the start path with opt.t.
  bool RowsWanted() const { return !opt.t || totals_.size() == 1; }

  uint32_t clsiz_;
  Layout layout_;
  std::vector<files_t> totals_;
  TreeWalk walk_;
};

}  // namespace

files_t DirTree(const char* pathname, uint32_t clsiz) { return Rows(pathname, clsiz).Run(); }
