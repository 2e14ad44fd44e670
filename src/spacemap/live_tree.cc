#include "spacemap/live_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>

#include "platform/drive.h"
#include "platform/error_text.h"
#include "platform/path.h"
#include "platform/remove.h"
#include "spacemap/codec.h"
#include "spacemap/export_stream.h"
#include "spacemap/export_writer.h"
#include "spacemap/replay.h"
#include "spacemap/utf8.h"
#include "spacemap/view.h"

namespace {

std::optional<int64_t> MtimeOf(const Tree& tree, NodeIndex node) {
  Extended ext = tree.ExtendedOf(node);
  if (!(ext.known & Extended::kMtime)) return std::nullopt;
  return ext.mtime;
}

}  // namespace

// A tree and what the browser needs beside it: the directories still open
// and, for a walk, each entry's identity, which deleting checks against.
struct LiveTree::State : ScanSink {
  State(bool count_links, bool keep_identities, bool keep_extended)
      : tree(keep_extended), builder(&tree, count_links), keep_identities(keep_identities) {}

  void Enter(const Item& dir) override {
    Keep(dir);
    open.push_back(tree.Size());
    builder.Enter(dir);
  }
  void Leaf(const Item& item) override {
    Keep(item);
    builder.Leaf(item);
  }
  void Leave() override {
    open.pop_back();
    builder.Leave();
  }

  void IdentityOf(NodeIndex node, Item* item) const {
    if (!keep_identities) return;
    const Identity& id = identities[node];
    item->dev = devices[id.device];
    item->ino = id.ino;
    item->nlink = id.nlink;
  }

  Tree tree;
  TreeBuilder builder;
  std::vector<NodeIndex> open;  // the directories entered and not left, outermost first

 private:
  // 16 bytes an entry: devices are few, so each is kept once.
  struct Identity {
    uint64_t ino;
    uint32_t device;  // in `devices`
    uint32_t nlink;
  };

  void Keep(const Item& item) {
    if (!keep_identities) return;
    if (devices.empty() || devices[last_device] != item.dev) {
      auto found = std::find(devices.begin(), devices.end(), item.dev);
      last_device = static_cast<uint32_t>(found - devices.begin());
      if (found == devices.end()) devices.push_back(item.dev);
    }
    identities.push_back(Identity{item.ino, last_device, item.nlink});
  }

  const bool keep_identities;
  std::vector<Identity> identities;
  std::vector<uint64_t> devices;
  uint32_t last_device = 0;
};

LiveTree::LiveTree(const std::string& start, const ScanChoices& choices, bool count_links, bool walked)
    : start_(start), choices_(choices), count_links_(count_links), walked_(walked),
      state_(std::make_unique<State>(count_links, walked, choices.extended)) {}

LiveTree::~LiveTree() = default;

void LiveTree::Event() {
  if (stop_.load(std::memory_order_relaxed)) throw ScanStopped();
  ++events_;
}

void LiveTree::Enter(const Item& dir) {
  std::lock_guard<std::mutex> lock(mu_);
  Event();
  state_->Enter(dir);
}

void LiveTree::Leaf(const Item& item) {
  std::lock_guard<std::mutex> lock(mu_);
  Event();
  state_->Leaf(item);
  if (item.excluded == Excluded::kNo) {
    ++files_;
    bytes_ += item.asize;
  }
}

void LiveTree::Leave() {
  std::lock_guard<std::mutex> lock(mu_);
  Event();
  state_->Leave();
}

void LiveTree::Finish() {
  std::lock_guard<std::mutex> lock(mu_);
  done_ = true;
  ++changes_;
}

bool LiveTree::Done() const {
  std::lock_guard<std::mutex> lock(mu_);
  return done_;
}

bool LiveTree::Open(NodeIndex node) const {
  return std::binary_search(state_->open.begin(), state_->open.end(), node);
}

NodeIndex LiveTree::End(NodeIndex node) const { return Open(node) ? state_->tree.Size() : state_->tree.At(node).end; }

// An open directory holds its own files and its finished subdirectories
// so far; the open one below it adds what it holds, and so on down.
uint64_t LiveTree::LiveSize(NodeIndex node, SortKey key) const {
  const std::vector<NodeIndex>& open = state_->open;
  auto at = std::lower_bound(open.begin(), open.end(), node);
  if (at == open.end() || *at != node) return state_->tree.SizeOf(node, key);
  uint64_t size = 0;
  for (; at != open.end(); ++at) size += state_->tree.SizeOf(*at, key);
  return size;
}

BrowseEntry LiveTree::EntryOf(NodeIndex node) const {
  const Tree& tree = state_->tree;
  BrowseEntry entry;
  entry.id = node;
  entry.name = tree.NameOf(node);
  entry.dir = tree.At(node).flags & Node::kDir;
  entry.scanning = Open(node);
  entry.size[0] = LiveSize(node, SortKey::kDisk);
  entry.size[1] = LiveSize(node, SortKey::kApparent);
  entry.items = ItemsBelow(node);
  entry.marks = MarksOf(tree.At(node).flags);
  entry.mtime = MtimeOf(tree, node);
  return entry;
}

uint64_t LiveTree::ItemsBelow(NodeIndex node) const {
  if (!(state_->tree.At(node).flags & Node::kDir)) return 0;
  auto removed = removed_below_.find(node);
  return End(node) - node - 1 - (removed == removed_below_.end() ? 0 : removed->second);
}

BrowseEntry LiveTree::Describe(EntryId id) {
  std::lock_guard<std::mutex> lock(mu_);
  if (state_->tree.Empty()) {
    BrowseEntry start;
    start.name = start_;
    start.dir = true;
    start.scanning = !done_;
    return start;
  }
  return EntryOf(static_cast<NodeIndex>(id));
}

// What sorting compares, read from the tree in place; the lock is held.
struct LiveTree::Fields {
  const LiveTree& tree;
  uint64_t Size(EntryId id, SortKey key) const { return tree.LiveSize(static_cast<NodeIndex>(id), key); }
  long double Growth(EntryId, SortKey) const { return 0; }
  std::string_view Name(EntryId id) const { return tree.state_->tree.NameOf(static_cast<NodeIndex>(id)); }
  uint64_t Items(EntryId id) const { return tree.ItemsBelow(static_cast<NodeIndex>(id)); }
  std::optional<int64_t> Mtime(EntryId id) const { return MtimeOf(tree.state_->tree, static_cast<NodeIndex>(id)); }
};

// A directory the walk has ended sorts in place under the lock, as its
// names are read while sorting. One still walked is sorted again at every
// redraw: its keys are read under the lock and sorted without it, so that
// a large one does not hold the walk up (names stay where they are while
// the walk adds others).
void LiveTree::Children(EntryId id, const Ordering& ordering, std::vector<EntryId>* children) {
  std::vector<SortKeyed> keyed;
  {
    std::lock_guard<std::mutex> lock(mu_);
    children->clear();
    if (state_->tree.Empty()) return;
    NodeIndex dir = static_cast<NodeIndex>(id);
    for (NodeIndex child = dir + 1, end = End(dir); child < end; child = End(child))
      if (removed_.empty() || !removed_.count(child)) children->push_back(child);
    if (!Open(dir)) return SortIds(children, ordering, Fields{*this});
    ReadSortKeys(*children, ordering, Fields{*this}, &keyed);
  }
  SortKeys(&keyed, ordering.reversed, children);
}

std::vector<std::string> LiveTree::Details(EntryId id) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> lines;
  if (walked_ && !state_->tree.Empty()) {
    Item item;
    state_->IdentityOf(static_cast<NodeIndex>(id), &item);
    lines.push_back("Hard links: " + std::to_string(item.nlink));
    if (item.ino)  // where the platform tells it
      lines.push_back("Device: " + std::to_string(item.dev) + "  Inode: " + std::to_string(item.ino));
  }
  // A directory's time is the newest below it, as the tree keeps it.
  Extended ext = state_->tree.ExtendedOf(static_cast<NodeIndex>(id));
  lines.push_back(ext.known & Extended::kMtime ? "Modified: " + FormatTime(ext)
                                               : std::string("Modified: no modification times in this scan (-e)"));
  if (ext.known & (Extended::kUid | Extended::kGid))
    lines.push_back("Owner: " + (ext.known & Extended::kUid ? std::to_string(ext.uid) : std::string("?")) + "  Group: " +
                    (ext.known & Extended::kGid ? std::to_string(ext.gid) : std::string("?")));
  else
    lines.push_back("Owner: no owners in this scan (-e)");
  return lines;
}

std::string LiveTree::Status(SortKey key, Units units) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!done_) {
    std::string where;
    for (NodeIndex dir : state_->open) {
      if (!where.empty() && where.back() != platform::kSeparator) where += platform::kSeparator;
      where += state_->tree.NameOf(dir);
    }
    return "Scanning: " + std::to_string(files_) + " files, " + FormatSize(bytes_, units) + " in " +
           Escaped(where);
  }
  if (state_->tree.Empty()) return "Nothing was read";
  NodeIndex root = state_->tree.Root();
  std::string status = "Total: " + FormatSize(state_->tree.SizeOf(root, key), units) +
                       (key == SortKey::kDisk ? " on disk" : " apparent") + ", " +
                       std::to_string(EntryOf(root).items) + " items";
  platform::dfree df;
  if (walked_ && platform::getdfree(0, start_.c_str(), &df) == 0)
    status += ", " + FormatSize(df.df_avail * df.df_bsec * df.df_sclus, units) + " free";
  return status;
}

// A directory the walk has left changes only by what the browser does; one
// it is in, at every step of the walk.
uint64_t LiveTree::Generation(EntryId dir) {
  std::lock_guard<std::mutex> lock(mu_);
  if (state_->tree.Empty() || Open(static_cast<NodeIndex>(dir))) return events_ << 1 | 1;
  return changes_ << 1;
}

std::string LiveTree::ReadOnly() const {
  return walked_ ? "" : "an imported scan is read-only: nothing is deleted";
}

std::string LiveTree::PathOf(const std::vector<EntryId>& chain) const {
  std::string path = start_;
  for (size_t i = 1; i < chain.size(); ++i) {
    if (path.back() != platform::kSeparator) path += platform::kSeparator;
    path += state_->tree.NameOf(static_cast<NodeIndex>(chain[i]));
  }
  return path;
}

// The entries gone below each directory, counted afresh from the removed
// ones: a tree walk, seldom done.
void LiveTree::CountRemoved() {
  removed_below_.clear();
  std::vector<NodeIndex> dirs;
  for (NodeIndex node = 0; node < state_->tree.Size();) {
    while (!dirs.empty() && node >= End(dirs.back())) dirs.pop_back();
    if (removed_.count(node)) {
      for (NodeIndex dir : dirs) removed_below_[dir] += End(node) - node;
      node = End(node);
      continue;
    }
    if (state_->tree.At(node).flags & Node::kDir) dirs.push_back(node);
    ++node;
  }
}

std::string LiveTree::Remove(const std::vector<EntryId>& chain) {
  if (!ReadOnly().empty()) return ReadOnly();
  std::vector<platform::ScannedEntry> entries;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (chain.size() < 2 || Open(static_cast<NodeIndex>(chain.back()))) return "still being scanned";
    for (EntryId id : chain) {
      NodeIndex node = static_cast<NodeIndex>(id);
      Item item;
      state_->IdentityOf(node, &item);
      entries.push_back(platform::ScannedEntry{std::string(state_->tree.NameOf(node)), item.dev, item.ino,
                                               (state_->tree.At(node).flags & Node::kDir) != 0});
    }
    entries[0].name = start_;
  }
  std::string why;
  if (platform::RemoveScanned(entries, &why) != 0) return why;
  std::lock_guard<std::mutex> lock(mu_);
  // A directory still open passes its total up as it is left: of those,
  // only the innermost is told.
  std::vector<NodeIndex> above;
  for (size_t i = chain.size() - 1; i-- > 0;) {
    above.push_back(static_cast<NodeIndex>(chain[i]));
    if (Open(above.back())) break;
  }
  state_->tree.Discount(static_cast<NodeIndex>(chain.back()), above);
  removed_.insert(static_cast<NodeIndex>(chain.back()));
  CountRemoved();
  ++changes_;
  return "";
}

namespace {

// The walk of one directory told into a tree under the name it has there,
// rather than the path the walk starts from.
class Renamed : public ScanSink {
 public:
  Renamed(ScanSink* sink, std::string_view name) : sink_(sink), name_(name) {}
  void Enter(const Item& dir) override {
    Item item = dir;
    if (depth_++ == 0) item.name = name_;
    sink_->Enter(item);
  }
  void Leaf(const Item& item) override { sink_->Leaf(item); }
  void Leave() override {
    --depth_;
    sink_->Leave();
  }

 private:
  ScanSink* sink_;
  std::string_view name_;
  unsigned depth_ = 0;
};

}  // namespace

// The tree is built again with the directory walked anew in its place;
// entries deleted meanwhile are left out of it.
std::string LiveTree::Refresh(const std::vector<EntryId>& chain) {
  if (!walked_) return "an imported scan cannot be scanned again";
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!done_) return "the scan has not ended yet";
  }
  NodeIndex target = static_cast<NodeIndex>(chain.back());
  std::string path = PathOf(chain);
  auto fresh = std::make_unique<State>(count_links_, true, choices_.extended);
  const State& old = *state_;
  Replay(old.tree, old.tree.Root(), [&old](NodeIndex node, Item* item) { old.IdentityOf(node, item); }, fresh.get(),
         [&](NodeIndex node, const Item& item) {
           if (removed_.count(node)) return true;
           if (node != target) return false;
           Renamed renamed(fresh.get(), item.name);
           Scan(path, choices_, &renamed);
           return true;
         });
  std::lock_guard<std::mutex> lock(mu_);
  state_ = std::move(fresh);
  removed_.clear();
  removed_below_.clear();
  ++changes_;
  return "";
}

std::string LiveTree::Export(const std::string& file) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!done_) return "the scan has not ended yet";
  }
  Compression compression = CompressionOfName(file);
  if (compression != Compression::kNone && !kCodecsBuiltIn) return kNoCodecs;
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) return "cannot write '" + file + "': " + platform::ErrorText(errno);
  const State& state = *state_;
  OutputStream stream(out, compression);
  ExportWriter writer(&stream, SPACE_VERSION, static_cast<int64_t>(std::time(nullptr)), state.tree.KeepsExtended());
  if (!state.tree.Empty())
    Replay(state.tree, state.tree.Root(), [&state](NodeIndex node, Item* item) { state.IdentityOf(node, item); },
           &writer, [this](NodeIndex node, const Item&) { return removed_.count(node) > 0; });
  bool written = writer.Finish();
  int error = errno;
  if (std::fclose(out) != 0 && written) written = false, error = errno;
  return written ? "" : "cannot write '" + file + "': " + platform::ErrorText(error ? error : EIO);
}
