#include "walk/dir_tree.h"

#include <cstring>
#include <vector>

#include "driver/opt.h"
#include "platform/listing.h"
#include "platform/path.h"
#include "report/diagnostic.h"
#include "report/out.h"
#include "report/progress.h"
#include "report/row.h"
#include "walk/last_char.h"
#include "walk/read_ahead.h"

std::string StartDirectory(const char* pathname) {
  std::string path = pathname;
  int ch = GetLastChar(pathname);
  if (ch == 0 || !strchr(platform::kPathEnders, ch)) path += platform::kSeparator;
  return path;
}

namespace {

uint64_t Clusters(uint64_t size, uint32_t clsiz) {
  if (size == 0 || clsiz == 0) return size;
  return size / clsiz + (size % clsiz != 0);
}

// One walk. It prints in the order of a depth-first walk over the listings,
// which the readers fetch ahead of it. The directories being printed form a
// stack instead of a chain of native calls, so that no depth of tree can
// exhaust the stack. `path_` holds the path text of the deepest directory,
// ending in its separator; each level remembers where its own ends.
class Walk {
 public:
  Walk(const char* pathname, uint32_t clsiz)
      : pathname_(pathname), clsiz_(clsiz), layout_(RowLayout(clsiz)),
        path_(StartDirectory(pathname)), start_path_(path_), read_ahead_(start_path_.c_str()) {}

  files_t Run() {
    Enter(read_ahead_.Root());
    for (;;) {
      if (OutFailed()) return files_t();  // nobody sees the rest
      Level& level = levels_.back();
      const platform::Listing& listing = level.node->dir.listing;
      if (level.next < listing.entries.size()) {
        Visit(listing, listing.entries[level.next++]);
        continue;
      }
      if (listing.error) ReportUnreadable(level.path_len, listing.error);
      files_t done = level.files;
      size_t done_len = level.path_len;
      read_ahead_.Done(level.node);
      levels_.pop_back();
      if (levels_.empty()) return done;
      ShowWhere();
      FinishDirectory(done, done_len);
    }
  }

 private:
  struct Level {
    DirNode* node;
    size_t path_len;
    size_t next = 0;        // entry of the listing
    size_t next_child = 0;  // of node->children
    files_t files;
  };

  // Rows are printed only for the first level below the start path with opt.t.
  bool RowsWanted() const { return !opt.t || levels_.size() == 1; }

  void Enter(DirNode* node) {
    levels_.push_back(Level{node, path_.size(), 0, 0, files_t()});
    ShowWhere();
    ProgressDirectory();
    read_ahead_.Await(node);
  }

  // The progress line names the directory whose files are counted now, as
  // its row does. `path_` keeps that text until the walk enters or leaves
  // a directory, when this is called again.
  void ShowWhere() {
    size_t len = levels_.back().path_len;
    ProgressAt(levels_.size() == 1 ? std::string_view(pathname_) : std::string_view(path_.data(), len - 1));
  }

  void Visit(const platform::Listing& listing, const platform::Entry& entry) {
    Level& level = levels_.back();
    path_.resize(level.path_len);
    const char* name = listing.NameOf(entry);
    if (entry.attrib & platform::kDirectory) {
      path_ += name;
      path_ += platform::kSeparator;
      return Enter(&level.node->children[level.next_child++]);
    }
    if (entry.attrib & platform::kVolumeLabel) return;
    if (entry.error) {
      ReportFailure("cannot read file '" + path_ + name + "'", entry.error);
      return;
    }
    files_t file(1, entry.size, Clusters(entry.size, clsiz_));
    level.files += file;
    ProgressFile(entry.size);
    if (opt.f && RowsWanted()) PutUsageRow(layout_, clsiz_, file, path_, name);
  }

  // The directory whose path text is the first `path_len` bytes of `path_`
  // is complete: print its row and add it to its parent.
  void FinishDirectory(const files_t& total, size_t path_len) {
    if (RowsWanted()) {
      std::string_view text(path_.data(), opt.f ? path_len : path_len - 1);
      PutUsageRow(layout_, clsiz_, total, text);
    }
    levels_.back().files += total;
  }

  // Names the directory whose path text is the first `path_len` bytes of
  // `path_` as its row does (the start directory as the total row does).
  void ReportUnreadable(size_t path_len, int error) {
    std::string name = path_len == start_path_.size() ? pathname_ : path_.substr(0, path_len - 1);
    ReportFailure("cannot read directory '" + name + "'", error);
  }

  const char* pathname_;
  uint32_t clsiz_;
  Layout layout_;
  std::string path_;
  const std::string start_path_;
  std::vector<Level> levels_;
  ReadAhead read_ahead_;
};

}  // namespace

files_t DirTree(const char* pathname, uint32_t clsiz) { return Walk(pathname, clsiz).Run(); }
