#include "walk/dir_tree.h"

#include <cstring>
#include <vector>

#include "driver/opt.h"
#include "platform/platform.h"
#include "report/diagnostic.h"
#include "report/out.h"
#include "report/progress.h"
#include "report/row.h"
#include "walk/last_char.h"

std::string StartDirectory(const char* pathname) {
  std::string path = pathname;
  int ch = GetLastChar(pathname);
  if (ch == 0 || !strchr(platform::kPathEnders, ch)) path += platform::kSeparator;
  return path;
}

namespace {

bool IsDotOrDotDot(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

uint64_t Clusters(uint64_t size, uint32_t clsiz) {
  if (size == 0 || clsiz == 0) return size;
  return size / clsiz + (size % clsiz != 0);
}

// One walk. The directories being read form a stack instead of a chain of
// native calls, so that no depth of tree can exhaust the stack. `path_` holds
// the path text of the deepest directory, ending in its separator; each level
// remembers where its own path text ends.
class Walk {
 public:
  Walk(const char* pathname, uint32_t clsiz)
      : pathname_(pathname), clsiz_(clsiz), layout_(RowLayout(clsiz)),
        path_(StartDirectory(pathname)), start_len_(path_.size()) {}

  files_t Run() {
    ProgressDirectory(pathname_);
    if (int error = chain_.OpenStart(path_)) {
      ReportUnreadable(start_len_, error);
      return files_t();
    }
    levels_.push_back(Level{files_t(), path_.size()});
    for (;;) {
      if (OutFailed()) return files_t();  // nobody sees the rest
      platform::Entry entry;
      int error;
      if (chain_.Next(&entry, &error)) {
        Visit(entry);
        continue;
      }
      if (error) ReportUnreadable(levels_.back().path_len, error);
      files_t done = levels_.back().files;
      size_t done_len = levels_.back().path_len;
      levels_.pop_back();
      chain_.Close();
      if (levels_.empty()) return done;
      FinishDirectory(done, done_len);
    }
  }

 private:
  struct Level {
    files_t files;
    size_t path_len;
  };

  // Rows are printed only for the first level below the start path with opt.t.
  bool RowsWanted() const { return !opt.t || levels_.size() == 1; }

  void Visit(const platform::Entry& entry) {
    if (IsDotOrDotDot(entry.name)) return;
    if (entry.attrib & platform::kDirectory) return EnterDirectory(entry.name);
    if (entry.attrib & platform::kVolumeLabel) return;
    path_.resize(levels_.back().path_len);
    if (entry.error) {
      ReportFailure("cannot read file '" + path_ + entry.name + "'", entry.error);
      return;
    }
    files_t file(1, entry.size, Clusters(entry.size, clsiz_));
    levels_.back().files += file;
    ProgressFile(entry.size);
    if (opt.f && RowsWanted()) PutUsageRow(layout_, clsiz_, file, path_, entry.name);
  }

  void EnterDirectory(const char* name) {
    path_.resize(levels_.back().path_len);
    path_ += name;
    path_ += platform::kSeparator;
    ProgressDirectory(std::string_view(path_.data(), path_.size() - 1));
    if (int error = chain_.OpenChild()) {
      // Still gets its row, of zeros, like an empty directory.
      ReportUnreadable(path_.size(), error);
      FinishDirectory(files_t(), path_.size());
      return;
    }
    levels_.push_back(Level{files_t(), path_.size()});
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
    std::string name = path_len == start_len_ ? pathname_ : path_.substr(0, path_len - 1);
    ReportFailure("cannot read directory '" + name + "'", error);
  }

  const char* pathname_;
  uint32_t clsiz_;
  Layout layout_;
  std::string path_;
  size_t start_len_;
  std::vector<Level> levels_;
  platform::DirChain chain_;
};

}  // namespace

files_t DirTree(const char* pathname, uint32_t clsiz) { return Walk(pathname, clsiz).Run(); }
