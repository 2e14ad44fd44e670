// The read-ahead core on trees in memory: a fake reader decides what each
// directory holds, which reads fail and which threads are refused; the test
// walks as the printer does and checks against the tree itself.
#include "walk/read_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace {

// `files` files with names of `name_bytes` bytes, then the subdirectories.
struct FakeDir {
  size_t files = 0;
  size_t name_bytes = 8;
  std::vector<std::string> subdirs;
};

// Entries arrive in batches of this many; a piece holds at least one.
constexpr size_t kFakeBatch = 16;

class FakeReader : public DirReader {
 public:
  std::map<std::string, FakeDir> tree;  // by path from "r"
  bool refuse_threads = false;
  // Reads begun at once beyond which Begin refuses but alone; 0: no limit.
  size_t slots = 0;
  size_t most_begun = 0;
  // Whether reading `path` on the printer's thread or another runs out of memory.
  std::function<bool(const std::string& path, bool printer)> fail_alloc = [](const std::string&, bool) {
    return false;
  };
  std::thread::id printer = std::this_thread::get_id();
  // How long each piece takes, as on a file system whose every request waits.
  std::chrono::milliseconds latency{0};

  bool Begin(platform::Dir* dir, bool alone) override {
    if (!dir->handle.reading) {
      if (slots && begun_ >= slots && !alone) return false;
      EXPECT_TRUE(!alone || begun_ == 0);
      dir->handle.begun = true;
      most_begun = std::max(most_begun, ++begun_);
    }
    Requested(dir, 1);
    return true;
  }
  void Read(platform::Dir* dir, size_t allowance) override {
    std::string path = PathOf(dir);
    platform::Listing& listing = dir->listing;
    bool first_piece = !dir->handle.reading;
    {
      std::lock_guard<std::mutex> lock(mu_);
      reads_[path] += first_piece;
    }
    struct PieceEnd {
      FakeReader* fake;
      platform::Dir* dir;
      ~PieceEnd() { fake->Requested(dir, -1); }
    } piece_end{this, dir};
    if (fail_alloc(path, std::this_thread::get_id() == printer)) throw std::bad_alloc();
    std::this_thread::sleep_for(latency);
    const FakeDir& fake = tree.at(path);
    dir->handle.reading = true;
    for (size_t i = listing.entries.size(), in_piece = 0; i < fake.files; ++i, ++in_piece) {
      if (in_piece > 0 && in_piece % kFakeBatch == 0 && listing.Bytes() >= allowance) return Held(path, listing.Bytes());
      std::string name = std::to_string(i);
      Add(&listing, name + std::string(fake.name_bytes - std::min(name.size(), fake.name_bytes), 'x'), 0);
    }
    for (const std::string& sub : fake.subdirs) Add(&listing, sub, platform::kDirectory);
    dir->handle.reading = false;
    Held(path, listing.Bytes());
    Ended(path);
  }
  platform::ReadEnd End(platform::Dir* dir, bool) override {
    if (dir->handle.reading) return platform::ReadEnd::kMore;
    Ended(dir);
    return platform::ReadEnd::kEnded;
  }
  void Unread(platform::Dir* dir) override {
    if (dir->handle.pinning) Requested(dir, -1);
    Held(PathOf(dir), 0);
    if (dir->handle.begun) Ended(dir);
    dir->listing.Release();
    dir->handle.reading = false;
  }
  size_t ConcurrentReads() override { return 256; }
  platform::Thread* StartThread(void (*run)(void*), void* arg) override {
    return refuse_threads ? nullptr : platform::StartThread(run, arg);
  }

  // The printer is done with the listing of `path`.
  void Done(const std::string& path) { Held(path, 0); }
  // Waits until `holds`; false after 20 seconds: no reader woke for it.
  bool Await(const std::function<bool()>& holds) {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, std::chrono::seconds(20), holds);
  }
  // A copy of one of the books below, taken under their lock.
  template <typename T>
  T Get(const T& book) {
    std::lock_guard<std::mutex> lock(mu_);
    return book;
  }

  std::map<std::string, int> reads_;
  std::map<std::string, bool> read_by_reader_;
  std::set<std::string> ended_;
  size_t peak_ = 0;  // the most bytes of listings read and not done at any one time
  size_t requested_ = 0;  // pieces requested and not read

 private:
  static std::string PathOf(const platform::Dir* dir) {
    return dir->parent ? PathOf(dir->parent) + "/" + dir->name : std::string("r");
  }
  static void Add(platform::Listing* listing, const std::string& name, unsigned attrib) {
    uint32_t offset = static_cast<uint32_t>(listing->names.size());
    listing->names.append(name.c_str(), name.size() + 1);
    listing->entries.push_back(platform::Entry{offset, offset, attrib, 0, 1});
    listing->subdirs += attrib == platform::kDirectory;
  }
  // `path` now holds `bytes` of listing.
  void Held(const std::string& path, size_t bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    held_ += bytes - bytes_[path];
    bytes_[path] = bytes;
    peak_ = std::max(peak_, held_);
  }
  // A piece of `dir` is requested (+1) or read or given up (-1).
  void Requested(platform::Dir* dir, int change) {
    std::lock_guard<std::mutex> lock(mu_);
    dir->handle.pinning = change > 0;
    requested_ += change;
    changed_.notify_all();
  }
  void Ended(platform::Dir* dir) {
    dir->handle.begun = false;
    --begun_;
  }
  void Ended(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    ended_.insert(path);
    if (std::this_thread::get_id() != printer) read_by_reader_[path] = true;
    changed_.notify_all();
  }
  std::mutex mu_;
  std::condition_variable changed_;
  std::map<std::string, size_t> bytes_;
  size_t held_ = 0;
  size_t begun_ = 0;  // the printer's: Begin, End and Unread run there
};

// Walks as the printer does: `visit` once a listing is there, `done` after.
std::vector<std::string> PrintOrder(ReadAhead* read_ahead, FakeReader* fake,
                                    const std::function<void(DirNode*)>& visit = {},
                                    const std::function<void(const std::string&)>& done = {}) {
  std::vector<std::string> order;
  std::function<void(DirNode*, const std::string&)> walk = [&](DirNode* node, const std::string& path) {
    read_ahead->Await(node);
    order.push_back(path);
    if (visit) visit(node);
    const platform::Listing& listing = node->dir.listing;
    size_t child = 0;
    for (const platform::Entry& entry : listing.entries)
      if (entry.attrib & platform::kDirectory) walk(&node->children[child++], path + "/" + listing.NameOf(entry));
    fake->Done(path);
    read_ahead->Done(node);
    if (done) done(path);
  };
  walk(read_ahead->Root(), "r");
  return order;
}

PoolSize Fixed(size_t threads) { return PoolSize(threads, threads, platform::Now(), platform::BusyProcessorTime); }
// 0 threads: a pool of two on an idle machine, which grows while reads wait.
PoolSize Pool(size_t threads) {
  return threads ? Fixed(threads) : PoolSize(2, 16, platform::Now(), [] { return std::chrono::nanoseconds(0); });
}

// Wide directories side by side, each with two small ones below.
void MakeWideTree(FakeReader* reader) {
  FakeReader& fake = *reader;
  for (int w = 0; w < 6; ++w) {
    std::string wide = "w" + std::to_string(w);
    fake.tree["r"].subdirs.push_back(wide);
    fake.tree["r/" + wide] = FakeDir{300, 100, {"a", "b"}};
    fake.tree["r/" + wide + "/a"] = FakeDir{3, 8, {}};
    fake.tree["r/" + wide + "/b"] = FakeDir{0, 8, {}};
  }
}

std::vector<std::string> ModelOrder(const FakeReader& fake) {
  std::vector<std::string> order;
  std::function<void(const std::string&)> walk = [&](const std::string& path) {
    order.push_back(path);
    for (const std::string& sub : fake.tree.at(path).subdirs) walk(path + "/" + sub);
  };
  walk("r");
  return order;
}

// Listings past the budget go on in later pieces rather than being read
// again; at most the budget and one listing per thread are held at once.
TEST(ReadAheadTest, ReadsEachDirectoryOnceInTheBudgetWhateverTheThreads) {
  for (size_t budget : {size_t(1), size_t(8 << 10), size_t(1) << 30}) {
    for (size_t threads : {1, 2, 8, 0}) {
      FakeReader fake;
      MakeWideTree(&fake);
      fake.latency = std::chrono::milliseconds(threads ? 0 : 5);
      ReadAhead read_ahead("r", fake, Pool(threads), budget);
      size_t widest = 0;
      // Readers get as far ahead as they may: the printer lets them read
      // all it asked for before it goes on.
      EXPECT_EQ(PrintOrder(&read_ahead, &fake,
                           [&](DirNode* node) {
                             widest = std::max(widest, node->dir.listing.Bytes());
                             // Readers are as far ahead as the walk lets them be.
                             EXPECT_TRUE(fake.Await([&] { return fake.requested_ == 0; }));
                           }),
                ModelOrder(fake))
          << budget << " " << threads;
      for (const auto& [path, reads] : fake.Get(fake.reads_)) EXPECT_EQ(reads, 1) << path;
      if (budget < (1 << 30)) {
        EXPECT_LE(fake.Get(fake.peak_), budget + ((threads ? threads : 16) + 1) * widest) << budget << " " << threads;
      }
    }
  }
}

// One listing fills the budget: a Done that makes room hands the readers
// the next requests there and then, as the printer asks for nothing while
// it prints. Judged from the nodes, which only the printer's thread changes.
TEST(ReadAheadTest, RoomMadeByTheWalkWakesAReader) {
  FakeReader fake;
  const int dirs = 4 * kRequestsPerReader;
  const size_t budget = 40000;
  for (int d = 0; d < dirs; ++d) {
    fake.tree["r"].subdirs.push_back("d" + std::to_string(d));
    fake.tree["r/d" + std::to_string(d)] = FakeDir{1, budget, {}};
  }
  ReadAhead read_ahead("r", fake, Fixed(2), budget);
  const DirNode* root = read_ahead.Root();
  const size_t most_requests = kRequestsPerReader;  // for the one reader
  int woken = 0;
  PrintOrder(&read_ahead, &fake, {}, [&](const std::string& path) {
    if (path == "r") return;
    int head = std::stoi(path.substr(3)) + 1;
    size_t ahead = root->counted;
    std::vector<std::string> requested;
    bool unread_past_head = false;
    for (int d = 0; d < dirs; ++d) {
      const DirNode& node = root->children[d];
      ahead += node.counted;
      if (node.state == DirNode::State::kRequested) requested.push_back("r/d" + std::to_string(d));
      unread_past_head |= d > head && node.state == DirNode::State::kUnread;
    }
    if (requested.size() < most_requests && ahead < budget) {
      EXPECT_FALSE(unread_past_head) << path;
    }
    for (const std::string& next : requested) {
      EXPECT_TRUE(fake.Await([&] { return fake.ended_.count(next) > 0; })) << path;  // a reader woke for it
      ++woken;
    }
  });
  EXPECT_GT(woken, 0);
}

// Where one thread would finish, so does the walk: without threads, and when
// readers or the printer run out of memory.
TEST(ReadAheadTest, FinishesWhereOneThreadWould) {
  struct Case {
    const char* what;
    bool refuse_threads;
    bool printer_fails;  // else readers fail
    std::set<std::string> failing;  // the first read of each runs out of memory; empty: all
    int most_reads;
    size_t slots = 0;
  };
  const Case cases[] = {
      {"no thread granted", true, false, {"none"}, 1},
      {"readers run out of memory for wide directories", false, false, {"r/w1", "r/w2", "r/w4"}, 2},
      {"readers run out of memory for every directory", false, false, {}, 2},
      {"the printer runs out of memory for the first it reads itself", false, true, {"r/w0"}, 2},
      // Reads wait for one another's descriptors; a paused one may be
      // given back for the printer's.
      {"one read at a time", false, false, {"none"}, 2, 1},
      {"two reads at a time", false, false, {"none"}, 2, 2},
  };
  for (const Case& c : cases) {
    for (size_t threads : {2, 8}) {
      FakeReader fake;
      MakeWideTree(&fake);
      fake.refuse_threads = c.refuse_threads;
      fake.slots = c.slots;
      std::mutex mu;
      std::set<std::string> failed;
      fake.fail_alloc = [&](const std::string& path, bool printer) {
        std::lock_guard<std::mutex> lock(mu);
        return printer == c.printer_fails && (c.failing.empty() || c.failing.count(path)) && failed.insert(path).second;
      };
      ReadAhead read_ahead("r", fake, Fixed(threads), 8 << 10);
      EXPECT_EQ(PrintOrder(&read_ahead, &fake), ModelOrder(fake)) << c.what;
      for (const auto& [path, reads] : fake.Get(fake.reads_)) EXPECT_LE(reads, c.most_reads) << c.what << " " << path;
      if (c.refuse_threads) {
        EXPECT_TRUE(fake.Get(fake.read_by_reader_).empty()) << c.what;
      }
      if (c.slots) {
        EXPECT_LE(fake.most_begun, c.slots) << c.what;
      }
    }
  }
}

}  // namespace
