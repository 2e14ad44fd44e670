#include "spacemap/scan.h"

#include <string_view>

#include "platform/dir_read.h"
#include "platform/drive.h"
#include "platform/path.h"
#include "platform/utf8_names.h"
#include "report/diagnostic.h"
#include "report/progress.h"
#include "spacemap/exclude.h"
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

// One walk's scan, told to the sink as the walk comes to each entry.
class Scanner : public TreeWalk::Consumer {
 public:
  Scanner(const std::string& path, const ScanChoices& choices, ScanSink* sink)
      : choices_(choices), rules_(choices.excludes, choices.exclude_hidden), sink_(sink),
        root_name_(AbsoluteStartPath(path)), root_utf8_(platform::PathInUtf8(root_name_)),
        filter_([this](const char* name, const platform::EntryStat& stat) { return Wanted(name, stat); }),
        walk_(path.c_str(), root_name_, this, &filter_) {}

  void Run() { walk_.Run(); }

 private:
  // Called by the readers, each for its own directory.
  bool Wanted(const char* name, const platform::EntryStat& stat) const {
    if (stat.file_system == platform::FileSystem::kKernel) return false;
    if (choices_.one_file_system && stat.file_system == platform::FileSystem::kOther) return false;
    return !rules_.ExcludesName(name);
  }

  // By a pattern with a slash, for the walk to ask: the readers know names
  // only. The entry whose path text below the start path is `below`, then
  // `name` when that is a file's.
  bool ExcludedByPath(std::string_view below, std::string_view name = {}) const {
    if (!rules_.HasPathPatterns()) return false;
    std::string path = root_name_;
    if (path.back() != platform::kSeparator) path += platform::kSeparator;
    path.append(below).append(name);
    return rules_.ExcludesPath(WithSlashes(std::move(path)));
  }

  // A subdirectory, read already, that holds a valid CACHEDIR.TAG.
  bool IsCache(const platform::Listing& listing) const {
    if (!choices_.exclude_caches) return false;
    for (const platform::Entry& entry : listing.entries)
      if (!(entry.attrib & platform::kDirectory) && std::string_view(listing.NameOf(entry)) == kCacheTag)
        return IsCacheTag(walk_.Path() + kCacheTag);
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

  static Item ExcludedItem(std::string_view name, Excluded why) {
    Item item;
    item.name = name;
    item.excluded = why;
    return item;
  }

  // A subdirectory is known for what it is once opened: its own
  // examination, as the filter saw it, tells whether it was read. Where the
  // platform examines a directory only in its parent's listing (Win32), the
  // parent's gives its time.
  bool Arrive(const platform::Listing& listing, const platform::Listing* parent, size_t entry) override {
    platform::EntryStat stat;
    if (!listing.stats.empty()) stat = listing.SelfStat();
    if (!parent) return Enter(listing, ItemOf(root_utf8_, stat));
    if (listing.stats.empty())  // it could not be opened, but may still be examined
      platform::ExaminePath(std::string(walk_.DirName()).c_str(), &stat);
    const char* name = parent->NameOf(parent->entries[entry]);
    std::string_view utf8 = platform::NameInUtf8(*parent, parent->entries[entry], &utf8_name_);
    Item item = ItemOf(utf8, stat);
    if (choices_.extended && !stat.has_mtime) item.ext = ExtendedOf(parent->StatOf(entry));
    std::string_view below = walk_.PathBelowStart();
    below.remove_suffix(1);  // the separator that ends it
    if (Wanted(name, stat) && !ExcludedByPath(below) && !IsCache(listing)) return Enter(listing, item);
    sink_->Leaf(ExcludedItem(utf8, ExclusionOf(stat)));
    return false;
  }

  bool Enter(const platform::Listing& listing, Item item) {
    // Counting in clusters counts files alone, as space does.
    if (choices_.cluster_size) item.dsize = 0;
    if (listing.error) {
      ReportFailure("cannot read directory '" + std::string(walk_.DirName()) + "'", listing.error);
      item.read_error = true;
    }
    sink_->Enter(item);
    return true;
  }

  void Entry(const platform::Listing& listing, size_t i) override {
    const platform::Entry& entry = listing.entries[i];
    const char* name = listing.NameOf(entry);
    std::string_view utf8 = platform::NameInUtf8(listing, entry, &utf8_name_);
    Item item = ItemOf(utf8, listing.StatOf(i));
    if (entry.error) {
      ReportFailure("cannot read file '" + walk_.Path() + name + "'", entry.error);
      item.read_error = true;
    } else if ((entry.attrib & platform::kExcluded) || rules_.ExcludesName(name) ||
               ExcludedByPath(walk_.PathBelowStart(), name)) {
      item = ExcludedItem(utf8, Excluded::kPattern);
    } else {
      ProgressFile(item.asize);
    }
    sink_->Leaf(item);
  }

  void Leave(const platform::Listing&) override { sink_->Leave(); }

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
  const platform::SubdirFilter filter_;
  TreeWalk walk_;
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
