// The interactive browser's logic, apart from any terminal: which
// directory is open, what is selected and marked, how entries are sorted,
// what a key does and which lines the screen shows. The scan it browses is
// a BrowseModel: a walk (growing while it runs), an import, or the
// difference of two scans.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/screen.h"
#include "spacemap/entry_order.h"
#include "spacemap/tree.h"
#include "spacemap/units.h"

// An entry of a directory as the browser shows it.
struct BrowseEntry {
  EntryId id = 0;
  // Raw bytes, held by the model until it is changed by a deletion or a
  // refresh;
  // of the start, its path.
  std::string_view name;
  bool dir = false;
  bool scanning = false;  // a directory whose walk has not ended
  uint64_t size[2] = {0, 0};      // indexed by SortKey: on disk, apparent
  uint64_t old_size[2] = {0, 0};  // in a comparison, in the old scan
  uint64_t items = 0;             // entries below a directory
  std::optional<int64_t> mtime;   // where the scan has modification times
  const char* marks = "";         // why it is counted as it is: " [unreadable]" ...
  uint64_t Size(SortKey key) const { return size[static_cast<int>(key)]; }
  uint64_t OldSize(SortKey key) const { return old_size[static_cast<int>(key)]; }
};

class BrowseModel {
 public:
  virtual ~BrowseModel() = default;
  virtual EntryId Root() = 0;
  virtual BrowseEntry Describe(EntryId id) = 0;
  // Replaces `ids` with the entries of `dir`, in `ordering`; its memory is
  // used again, as a directory may hold millions.
  virtual void Children(EntryId dir, const Ordering& ordering, std::vector<EntryId>* ids) = 0;
  // Lines of the item's details beyond its path and sizes.
  virtual std::vector<std::string> Details(EntryId id) = 0;
  // The bottom line: totals and free space, or how far the scan has come.
  virtual std::string Status(SortKey key, Units units) = 0;
  // Changes whenever what the browser shows of `dir` may have.
  virtual uint64_t Generation(EntryId dir) = 0;
  virtual bool Comparison() const { return false; }
  // Why nothing may be deleted here; empty where it may.
  virtual std::string ReadOnly() const = 0;
  // Deletes the last of `chain` (ids from the start down to it) from the
  // disk and the scan; empty, or what stood in the way.
  virtual std::string Remove(const std::vector<EntryId>& chain) = 0;
  // Walks the directory that `chain` ends at again; empty, or why not.
  virtual std::string Refresh(const std::vector<EntryId>& chain) = 0;
  // Writes the scan as an export to `file`; empty, or why not.
  virtual std::string Export(const std::string& file) = 0;
};

struct ScreenLine {
  std::string text;
  platform::Look look = platform::Look::kPlain;
};

class Browser {
 public:
  Browser(BrowseModel* model, Units units, SortKey key);
  // What `key` does; false once it quits.
  bool Press(int key);
  // The screen, `rows` lines of at most `columns` characters.
  std::vector<ScreenLine> Render(int rows, int columns);

 private:
  enum class Mode { kList, kHelp, kInfo, kConfirm, kExportName };
  struct Target {
    std::vector<EntryId> chain;
    BrowseEntry entry;
  };

  const std::vector<EntryId>& Entries();
  BrowseEntry Selected();
  void SelectId(EntryId id);
  void Move(long delta);
  void Open();
  void Up();
  void ChooseOrder(Ordering::Kind kind);
  void Resort();
  void ToggleMark();
  void AskDelete();
  void Delete();
  void Refresh();
  void Export();
  bool PressInMode(int key);
  std::vector<EntryId> ChainTo(EntryId id) const;
  std::vector<Target> Targets();
  std::string PathOf(const std::vector<EntryId>& chain);
  int ListRows() const { return rows_ > 3 ? rows_ - 3 : 1; }

  std::string EntryLine(const BrowseEntry& entry, uint64_t total) const;
  std::string Header() const;
  std::vector<std::string> Dialog();
  void Overlay(const std::vector<std::string>& box, int columns, std::vector<ScreenLine>* lines) const;

  BrowseModel* model_;
  Units units_;
  Ordering ordering_;
  Mode mode_ = Mode::kList;
  std::vector<EntryId> chain_;  // the open directory and those above it
  size_t selected_ = 0;
  size_t top_ = 0;  // the first entry shown
  int rows_ = 24;
  std::map<EntryId, std::vector<EntryId>> marks_;  // each with its chain
  std::vector<Target> pending_;                    // awaiting confirmation
  std::string export_name_;
  std::string message_;
  // The open directory's entries, sorted, and what they were read for.
  std::vector<EntryId> entries_;
  uint64_t entries_generation_ = UINT64_MAX;
  EntryId entries_dir_ = UINT64_MAX;
  bool resort_ = true;
};
