#include "spacemap/scan.h"

#include <string_view>

#include "platform/platform.h"
#include "report/diagnostic.h"
#include "report/progress.h"
#include "spacemap/exclude.h"
#include "walk/read_ahead.h"
#include "walk/tree_walk.h"

std::string AbsoluteStartPath(const std::string& path) {
  std::string absolute = path.empty() ? "." : path;
  bool rooted = std::string_view(platform::kPathEnders).find(absolute[0]) != std::string_view::npos ||
                (absolute.size() > 1 && absolute[1] == ':');
  std::string cwd;
  if (!rooted && platform::getcwd(&cwd)) {
    if (absolute == ".") return cwd;
    if (!cwd.empty() && cwd.back() != platform::kSeparator) cwd += platform::kSeparator;
    absolute = cwd + absolute;
  }
  while (absolute.size() > 1 && absolute.back() == platform::kSeparator && absolute[absolute.size() - 2] != ':')
    absolute.pop_back();
  return absolute;
}

namespace {

// A cache directory tells so by this file, which starts with this line
// (https://bford.info/cachedir/).
constexpr char kCacheTag[] = "CACHEDIR.TAG";
constexpr std::string_view kCacheSignature = "Signature: 8a477f597d28d172789f06886806bc55";

bool IsCacheTag(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char start[kCacheSignature.size()];
  bool tagged = std::fread(start, 1, sizeof start, file) == sizeof start &&
                std::string_view(start, sizeof start) == kCacheSignature;
  std::fclose(file);
  return tagged;
}

// `path` with '/' between its components, as exclude patterns write it.
std::string WithSlashes(std::string path) {
  if (platform::kSeparator != '/')
    for (char& ch : path)
      if (ch == platform::kSeparator) ch = '/';
  return path;
}

// One walk, as the printer of the read-ahead walk: depth first in listing
// order, the directories being walked a stack rather than a chain of calls.
class Scanner {
 public:
  Scanner(const std::string& path, const ScanChoices& choices, ScanSink* sink)
      : choices_(choices), rules_(choices.excludes, choices.exclude_hidden), sink_(sink),
        root_name_(AbsoluteStartPath(path)),
        root_utf8_(platform::PathInUtf8(root_name_)), path_(StartDirectory(path.c_str())),
        start_path_(path_),
        filter_([this](const char* name, const platform::EntryStat& stat) { return Wanted(name, stat); }),
        read_ahead_(start_path_.c_str(), &filter_) {}

  void Run() {
    ProgressAt(root_name_);
    ProgressDirectory();
    DirNode* root = read_ahead_.Root();
    read_ahead_.Await(root);
    const platform::Listing& listing = root->dir.listing;
    Item item = ItemOf(root_utf8_, listing.stats.empty() ? platform::EntryStat() : listing.SelfStat());
    Enter(root, item);
    while (!levels_.empty()) {
      Level& level = levels_.back();
      const platform::Listing& listing = level.node->dir.listing;
      if (level.next_entry < listing.entries.size()) {
        size_t i = level.next_entry++;
        Visit(listing, listing.entries[i], listing.StatOf(i));
        continue;
      }
      read_ahead_.Done(level.node);
      bool unseen = level.unseen;
      levels_.pop_back();
      if (!levels_.empty()) ShowWhere();
      if (!unseen) sink_->Leave();
    }
    ProgressErase();
  }

 private:
  // A directory being walked: where its path text ends in `path_`, and
  // what comes next of its listing and of its subdirectories.
  struct Level {
    DirNode* node;
    DirNode* next_child;
    size_t path_len;
    size_t next_entry = 0;
    // Left out by its path or as a cache once read: walked, as the readers
    // ahead want every directory they read to be, and told to no one.
    bool unseen = false;
  };

  // Called by the readers, each for its own directory.
  bool Wanted(const char* name, const platform::EntryStat& stat) const {
    if (stat.file_system == platform::FileSystem::kKernel) return false;
    if (choices_.one_file_system && stat.file_system == platform::FileSystem::kOther) return false;
    return !rules_.ExcludesName(name);
  }

  // By a pattern with a slash, for the walk to ask: the readers know names
  // only. The entry `name` of the directory whose path is path_'s first
  // `dir_len` bytes.
  bool ExcludedByPath(size_t dir_len, std::string_view name) const {
    if (!rules_.HasPathPatterns()) return false;
    std::string path = root_name_;
    if (path.back() != platform::kSeparator) path += platform::kSeparator;
    path.append(path_, start_path_.size(), dir_len - start_path_.size());
    path += name;
    return rules_.ExcludesPath(WithSlashes(std::move(path)));
  }

  // A subdirectory, read already, that holds a valid CACHEDIR.TAG.
  bool IsCache(const platform::Listing& listing) const {
    if (!choices_.exclude_caches) return false;
    for (const platform::Entry& entry : listing.entries)
      if (!(entry.attrib & platform::kDirectory) && std::string_view(listing.NameOf(entry)) == kCacheTag)
        return IsCacheTag(path_ + kCacheTag);
    return false;
  }

  Item ItemOf(std::string_view name, const platform::EntryStat& stat) const {
    Item item;
    item.name = name;
    item.asize = stat.apparent;
    item.dsize = stat.allocated;
    if (choices_.cluster_size) item.dsize = stat.apparent / choices_.cluster_size * choices_.cluster_size +
                                            (stat.apparent % choices_.cluster_size ? choices_.cluster_size : 0);
    item.dev = stat.dev;
    item.ino = stat.ino;
    item.nlink = stat.nlink;
    item.notreg = !stat.regular;
    if (choices_.extended) item.ext = ExtendedOf(stat);
    return item;
  }

  static Extended ExtendedOf(const platform::EntryStat& stat) {
    Extended ext;
    if (stat.has_mtime) {
      ext.known |= Extended::kMtime;
      ext.mtime = stat.mtime;
    }
    if (stat.has_owner) {
      ext.known |= Extended::kUid | Extended::kGid | Extended::kMode;
      ext.uid = stat.uid;
      ext.gid = stat.gid;
      ext.mode = stat.mode;
    }
    return ext;
  }

  void Enter(DirNode* node, Item& item) {
    // Counting in clusters counts files alone, as space does.
    if (choices_.cluster_size) item.dsize = 0;
    if (int error = node->dir.listing.error) {
      std::string name = levels_.empty() ? root_name_ : path_.substr(0, path_.size() - 1);
      ReportFailure("cannot read directory '" + name + "'", error);
      item.read_error = true;
    }
    levels_.push_back(Level{node, node->children.get(), path_.size()});
    sink_->Enter(item);
  }

  void Visit(const platform::Listing& listing, const platform::Entry& entry, const platform::EntryStat& stat) {
    Level& level = levels_.back();
    path_.resize(level.path_len);
    const char* name = listing.NameOf(entry);
    if (level.unseen) {
      if (entry.attrib & platform::kDirectory) PassDirectory(name, level.next_child++);
      return;
    }
    std::string_view utf8 = platform::NameInUtf8(listing, entry, &utf8_name_);
    if (entry.attrib & platform::kDirectory) return VisitDirectory(name, utf8, stat, level.next_child++);
    Item item = ItemOf(utf8, stat);
    if (entry.error) {
      ReportFailure("cannot read file '" + path_ + name + "'", entry.error);
      item.read_error = true;
    } else if ((entry.attrib & platform::kExcluded) || rules_.ExcludesName(name) ||
               ExcludedByPath(path_.size(), name)) {
      item = Item{};
      item.name = utf8;
      item.excluded = Excluded::kPattern;
    } else {
      ProgressFile(item.asize);
    }
    sink_->Leaf(item);
  }

  // A subdirectory is known for what it is once opened: its own
  // examination, as the filter saw it, tells whether it was read. Where
  // the platform examines a directory only in its parent's listing
  // (Win32), `in_parent` gives its time.
  void VisitDirectory(const char* name, std::string_view utf8, const platform::EntryStat& in_parent, DirNode* child) {
    path_ += name;
    path_ += platform::kSeparator;
    ProgressAt(std::string_view(path_.data(), path_.size() - 1));
    ProgressDirectory();
    read_ahead_.Await(child);
    const platform::Listing& listing = child->dir.listing;
    platform::EntryStat stat;
    if (!listing.stats.empty())
      stat = listing.SelfStat();
    else  // it could not be opened, but may still be examined
      platform::ExaminePath(path_.substr(0, path_.size() - 1).c_str(), &stat);
    Item item = ItemOf(utf8, stat);
    if (choices_.extended && !stat.has_mtime) item.ext = ExtendedOf(in_parent);
    bool read = Wanted(name, stat);
    if (read && !ExcludedByPath(levels_.back().path_len, name) && !IsCache(listing)) return Enter(child, item);
    item = Item{};
    item.name = utf8;
    item.excluded = ExclusionOf(stat);
    sink_->Leaf(item);
    if (read) return levels_.push_back(Level{child, child->children.get(), path_.size(), 0, true});
    read_ahead_.Done(child);
    ShowWhere();
  }

  // A directory below one left out once read.
  void PassDirectory(const char* name, DirNode* child) {
    path_ += name;
    path_ += platform::kSeparator;
    read_ahead_.Await(child);
    const platform::Listing& listing = child->dir.listing;
    if (!listing.stats.empty() && Wanted(name, listing.SelfStat()))
      return levels_.push_back(Level{child, child->children.get(), path_.size(), 0, true});
    read_ahead_.Done(child);
  }

  // The progress line names the directory whose entries are counted now;
  // `path_` keeps that text until the walk enters or leaves a directory.
  void ShowWhere() {
    size_t len = levels_.back().path_len;
    ProgressAt(levels_.size() == 1 ? std::string_view(root_name_) : std::string_view(path_.data(), len - 1));
  }

  Excluded ExclusionOf(const platform::EntryStat& stat) const {
    if (stat.file_system == platform::FileSystem::kKernel) return Excluded::kKernelFileSystem;
    if (choices_.one_file_system && stat.file_system == platform::FileSystem::kOther)
      return Excluded::kOtherFileSystem;
    return Excluded::kPattern;
  }

  const ScanChoices& choices_;
  const ExcludeRules rules_;
  ScanSink* sink_;
  const std::string root_name_;  // in messages and the progress line
  const std::string root_utf8_;  // in the scan, as every name there
  std::string utf8_name_;        // where a name converted to UTF-8 is held
  std::string path_;
  const std::string start_path_;  // the walk's own, which path_ grows from
  std::vector<Level> levels_;
  const platform::SubdirFilter filter_;
  ReadAhead read_ahead_;
};

}  // namespace

void WarnOfExcludesThatNeverMatch(const std::string& path, const ScanChoices& choices) {
  ExcludeRules rules(choices.excludes, false);
  for (const auto& [pattern, why] : rules.NeverMatching(WithSlashes(AbsoluteStartPath(path))))
    WriteMessage("warning: exclude pattern '" + pattern + "' never matches", why);
}

void Scan(const std::string& path, const ScanChoices& choices, ScanSink* sink) {
  Scanner(path, choices, sink).Run();
}
