// The treemap page: one self-contained HTML file that draws a tree of sizes
// as nested tiles, with the sorted tree beside it, readable offline in any
// browser. The tree comes in as a stream, in pre-order with each directory's
// children largest first, so that writing it takes no copy of the tree.
//
// What the page holds, so that a million files make a page of a few
// megabytes: a tree of up to kAllFiles files is written whole. In a larger
// one, an entry is written when its size is at least a 131072nd of the
// root's: such entries are disjoint but for directories and their parents,
// so that there are at most 131072 files of them, and each still covers a
// square of 23 by 23 pixels of a 1000 by 700 map zoomed into a directory of a
// hundredth of the root. The entries below that, which come last since
// children come largest first, are summed per directory as one "N smaller
// items" tile. Past kOpenBudget bytes of page no directory is entered any
// more (each is drawn whole), and past kPageBudget every further entry goes
// into its directory's sum, which bounds the page whatever the tree.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct PageInfo {
  std::string title;  // raw bytes, shown at the top (the scanned path, say)
  bool by_apparent = false;  // areas in proportion to apparent rather than allocated sizes
  std::string members;  // further members of the page's data, as JSON each after a ','
};

struct PageItem {
  std::string_view name;  // raw bytes, as the file system gives them
  uint64_t allocated = 0;
  uint64_t apparent = 0;
  uint64_t files = 1;  // files at and below it
  bool read_error = false;  // a directory that could not be read whole
};

class TreemapPage {
 public:
  // Writes the page to `out`, open for writing in binary mode, which the
  // caller closes after Finish.
  TreemapPage(std::FILE* out, const PageInfo& info);

  // Enters a directory; the first call gives the root. False when the page
  // wants none of its children (it is drawn whole, or counted among its
  // parent's smaller items when too small): the caller then neither visits
  // its children nor closes it.
  bool OpenDirectory(const PageItem& dir);
  // A file, or anything else that has no children, of the current directory;
  // as the first call, the whole page.
  void File(const PageItem& file);
  void CloseDirectory();
  // Ends the page. False when a write failed, with errno telling why.
  bool Finish();

  static constexpr uint64_t kAllFiles = 100000;
  static constexpr uint64_t kShareDivisor = 131072;
  static constexpr uint64_t kOpenBudget = 5 << 20;
  static constexpr uint64_t kPageBudget = 7 << 20;

 private:
  struct Rest {
    uint64_t count = 0, allocated = 0, apparent = 0, files = 0;
    bool left_out = false;  // holds entries big enough to draw, for want of room in the page
  };
  enum class Drawn { kWhole, kOpen, kNot };
  Drawn Decide(const PageItem& item, bool can_open);
  void AddToRest(const PageItem& item, bool left_out);
  void WriteRecord(int type, const PageItem& item, bool with_files);
  void Write(std::string_view text);
  void WriteNumber(uint64_t n);

  std::FILE* out_;
  bool by_apparent_;
  uint64_t threshold_ = 0;
  uint64_t written_ = 0;
  bool started_ = false;
  std::vector<Rest> open_;  // the rest of each open directory, root first
};

// The name as the page shows it, JSON-quoted: UTF-8 as it is, every other
// byte and every control character as \xNN, and '<' escaped so that no name
// ends the script that holds it.
std::string PageQuotedName(std::string_view raw);
