// The read-ahead core on trees that exist only in memory: a fake reader
// decides what each directory holds, how its listing arrives, and which
// reads fail or which threads are refused, and the test walks as the
// printer does. Checked against the tree itself: the order of the walk,
// each directory read once, room made by the printer waking readers, the
// budget honoured, and the walk finished whatever the system refuses.
#include "walk/read_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// A directory of the fake tree: `files` files with names of `name_bytes`
// bytes, then its subdirectories.
struct FakeDir {
  size_t files = 0;
  size_t name_bytes = 8;
  std::vector<std::string> subdirs;
};

// Entries arrive in batches of this many, each announced to the pacer.
constexpr size_t kFakeBatch = 16;

class FakeReader : public DirReader {
 public:
  std::map<std::string, FakeDir> tree;  // by path from "r"
  bool refuse_threads = false;
  // Whether reading `path` on the printer's thread or another runs out of memory.
  std::function<bool(const std::string& path, bool printer)> fail_alloc = [](const std::string&, bool) {
    return false;
  };
  std::thread::id printer = std::this_thread::get_id();

  bool Read(platform::Dir* dir, const platform::ReadPacer& pacer) override {
    std::string path = PathOf(dir);
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++reads_[path];
    }
    if (fail_alloc(path, std::this_thread::get_id() == printer)) throw std::bad_alloc();
    const FakeDir& fake = tree.at(path);
    platform::Listing& listing = dir->listing;
    for (size_t i = 0; i < fake.files; ++i) {
      if (i > 0 && i % kFakeBatch == 0 && !pacer(listing.Bytes())) {
        listing.Release();
        return false;
      }
      std::string name = std::to_string(i);
      Add(&listing, name + std::string(fake.name_bytes - std::min(name.size(), fake.name_bytes), 'x'), 0);
    }
    for (const std::string& sub : fake.subdirs) Add(&listing, sub, platform::kDirectory);
    Ended(path, listing.Bytes());
    return true;
  }
  void Unread(platform::Dir* dir) override { dir->listing.Release(); }
  size_t ConcurrentReads() override { return 256; }
  platform::Thread* StartThread(void (*run)(void*), void* arg) override {
    return refuse_threads ? nullptr : platform::StartThread(run, arg);
  }

  // The printer is about to be done with a listing of `bytes`.
  void Done(size_t bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    held_ -= bytes;
  }
  // Waits until `path` has been read; false after 20 seconds: the reader
  // that should have read it never woke.
  bool AwaitRead(const std::string& path) {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return ended_.count(path) > 0; });
  }
  std::map<std::string, int> reads() {
    std::lock_guard<std::mutex> lock(mu_);
    return reads_;
  }
  bool printer_read_all() {
    std::lock_guard<std::mutex> lock(mu_);
    return read_by_reader_.empty();
  }
  // The most bytes of listings read and not done at any one time.
  size_t peak() {
    std::lock_guard<std::mutex> lock(mu_);
    return peak_;
  }

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
  void Ended(const std::string& path, size_t bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    held_ += bytes;
    ended_.insert(path);
    peak_ = std::max(peak_, held_);
    if (std::this_thread::get_id() != printer) read_by_reader_[path] = true;
    changed_.notify_all();
  }
  std::mutex mu_;
  std::condition_variable changed_;
  std::map<std::string, int> reads_;
  std::map<std::string, bool> read_by_reader_;
  std::set<std::string> ended_;
  size_t held_ = 0, peak_ = 0;
};

// Walks as the printer does, in the order it prints, calling `visit` with
// each directory once its listing is there and `done` with its path once it
// is done.
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
    fake->Done(listing.Bytes());
    read_ahead->Done(node);
    if (done) done(path);
  };
  walk(read_ahead->Root(), "r");
  return order;
}

PoolSize Fixed(size_t threads) { return PoolSize(threads, threads, platform::Now(), platform::BusyProcessorTime); }

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

// Listings past the budget wait for room rather than being read again; at
// most the budget and one listing per thread are held at once.
TEST(ReadAheadTest, ReadsEachDirectoryOnceInTheBudgetWhateverTheThreads) {
  for (size_t budget : {size_t(1), size_t(8 << 10), size_t(1) << 30}) {
    for (size_t threads : {1, 2, 8}) {
      FakeReader fake;
      MakeWideTree(&fake);
      ReadAhead read_ahead("r", fake, Fixed(threads), budget);
      size_t widest = 0;
      EXPECT_EQ(PrintOrder(&read_ahead, &fake,
                           [&](DirNode* node) { widest = std::max(widest, node->dir.listing.Bytes()); }),
                ModelOrder(fake))
          << budget << " " << threads;
      for (const auto& [path, reads] : fake.reads()) EXPECT_EQ(reads, 1) << path;
      if (budget < (1 << 30)) {
        EXPECT_LE(fake.peak(), budget + (threads + 1) * widest) << budget << " " << threads;
      }
    }
  }
}

// The reader stops at the budget, which one listing fills; a Done that makes
// room must wake it, since nothing else would: after each, the printer
// waits for the next directory to be read, which only the reader can do
// then, unless the printer read it while it waited.
TEST(ReadAheadTest, RoomMadeByTheWalkWakesAReader) {
  FakeReader fake;
  const int dirs = 8;
  for (int d = 0; d < dirs; ++d) {
    fake.tree["r"].subdirs.push_back("d" + std::to_string(d));
    fake.tree["r/d" + std::to_string(d)] = FakeDir{1, 40000, {}};
  }
  ReadAhead read_ahead("r", fake, Fixed(2), 40000);
  PrintOrder(&read_ahead, &fake, {}, [&](const std::string& path) {
    for (int d = 1; d + 1 < dirs; ++d) {
      if (path == "r/d" + std::to_string(d)) {
        EXPECT_TRUE(fake.AwaitRead("r/d" + std::to_string(d + 1))) << path;
      }
    }
  });
}

// Where one thread would finish, so does the walk: without threads, when
// readers run out of memory (what they were reading is read again later),
// and when the printer does while readers hold memory (they give it back and
// end, and the printer goes on alone).
TEST(ReadAheadTest, FinishesWhereOneThreadWould) {
  struct Case {
    const char* what;
    bool refuse_threads;
    bool printer_fails;  // else readers fail
    std::set<std::string> failing;  // the first read of each runs out of memory; empty: all
    int most_reads;
  };
  const Case cases[] = {
      {"no thread granted", true, false, {"none"}, 1},
      {"readers run out of memory for wide directories", false, false, {"r/w1", "r/w2", "r/w4"}, 2},
      {"readers run out of memory for every directory", false, false, {}, 2},
      {"the printer runs out of memory for the first it reads itself", false, true, {"r/w0"}, 2},
  };
  for (const Case& c : cases) {
    for (size_t threads : {2, 8}) {
      FakeReader fake;
      MakeWideTree(&fake);
      fake.refuse_threads = c.refuse_threads;
      std::mutex mu;
      std::set<std::string> failed;
      fake.fail_alloc = [&](const std::string& path, bool printer) {
        std::lock_guard<std::mutex> lock(mu);
        return printer == c.printer_fails && (c.failing.empty() || c.failing.count(path)) && failed.insert(path).second;
      };
      ReadAhead read_ahead("r", fake, Fixed(threads), 8 << 10);
      EXPECT_EQ(PrintOrder(&read_ahead, &fake), ModelOrder(fake)) << c.what;
      for (const auto& [path, reads] : fake.reads()) EXPECT_LE(reads, c.most_reads) << c.what << " " << path;
      if (c.refuse_threads) {
        EXPECT_TRUE(fake.printer_read_all()) << c.what;
      }
    }
  }
}

}  // namespace
