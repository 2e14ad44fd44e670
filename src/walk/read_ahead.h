// Directories read ahead of the walk that prints them.
//
// One thread, the printer, walks the tree depth first and prints. It asks
// for each directory's listing (Await) in the order it prints them and lets
// the directory go (Done) once it has counted its files. A pool of readers
// reads the directories it will ask for next, in the same order, so that
// waiting on the file system overlaps with printing and with other reads;
// while the listing the printer needs is being read by a reader, the printer
// reads the next one itself rather than wait. Every directory is read once.
//
// Who owns what:
// - A DirNode is made unread, in its parent's `children`, when the parent's
//   read ends. Until its own read ends it is in the frontier; its `dir` is
//   touched only by the one thread reading it (state kReading), and
//   otherwise by nobody.
// - When its read ends, its children take its place in the frontier and the
//   node belongs to the printer, which walks `dir.listing` and `children`
//   without the lock, and frees both in Done. The change of `state` to kRead
//   is the last thing the reader does with the node: the printer finds a
//   listing ready without taking the lock.
// - The printer alone starts readers, and joins them when memory runs out
//   (Starve) or in the destructor. ReadAhead
//   owns the tree and frees it, without recursion, after the readers have
//   stopped.
// - Everything else is guarded by `mu_`.
//
// Invariants (under `mu_`):
// - The frontier holds every discovered directory whose read has not ended,
//   in print order (depth first, children in listing order). Its head is the
//   next directory the printer will Await that is not read yet.
// - Every node before the first unread one in the frontier is being read, or
//   is the kept node, so finding work steps over at most one node per thread
//   and the kept one.
// - `kept_for_printer_`, when set, is the head, unread: the first
//   subdirectory of the directory the printer waited for, and so the next it
//   asks for. Readers pass it by and the printer reads it itself, so that a
//   chain of single subdirectories is not handed from thread to thread.
// - `ahead_bytes_` is the sum of `counted` over nodes being read and nodes
//   read but not done: listings count as their bytes arrive. Done lowers it
//   without the lock, and takes the lock only to wake readers when that
//   makes room. Once the start directory is done it is 0.
// - A read of any node but the one the printer waits for (`awaited_`)
//   starts only while `ahead_bytes_` is below the budget; past it, a
//   reader's read goes on only for that node, and any other waits in Pace,
//   with what it has read, until there is room or the printer waits for it.
//   Being the head is not enough: a printer held up by its output would
//   otherwise let readers take head after head, the whole tree. The printer
//   never waits in Pace: only it makes room, so a read it took on while
//   waiting goes on to its end. Memory for listings is thus bounded by the
//   budget, the awaited listing, one listing read by the printer and one
//   batch per thread.
// - A read gives its node back, unread, only when the walk stops or memory
//   runs out: then the node is read again later. When memory runs out for
//   the printer itself (Starve), the readers end, and what was read ahead
//   of the printer is made unread too, so that from then on the printer
//   holds what one thread would.
//
// Why nothing hangs: the printer waits only for the head, and only while
// another thread reads it; that read never waits for the budget once the
// printer waits for it. A read waiting in Pace is woken when the printer
// comes to wait for its node (Await) or when Done makes room; readers waiting for work are
// woken by Publish, by Done making room and by the stop. A read waiting in
// Pace keeps its descriptors, and tells the reader (PauseRead), so that no
// other read waits for it to give them back. When the printer
// runs out of memory it stops the readers and waits for them to end: each
// ends its read or gives it back at its next batch. The kept node is read by
// the printer as soon as it asks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "walk/dir_reader.h"
#include "walk/pool_size.h"

struct DirNode {
  enum class State : unsigned char { kUnread, kReading, kRead };

  DirNode() = default;
  DirNode(const DirNode&) = delete;
  DirNode& operator=(const DirNode&) = delete;
  ~DirNode() { platform::ForgetDirectory(&dir); }

  platform::Dir dir;
  DirNode* parent = nullptr;
  std::unique_ptr<DirNode[]> children;  // one per subdirectory, in listing order
  size_t subdirs = 0;                   // of `children`
  DirNode* prev = nullptr;              // neighbours in the frontier
  DirNode* next = nullptr;
  size_t counted = 0;                   // bytes it counts against the budget
  // Changed under the lock; the printer looks without it for a listing
  // that is ready, which the change to kRead publishes.
  std::atomic<State> state{State::kUnread};
};

// Listings read but not yet done with, beyond which only the directory the
// printer needs next is read.
#ifndef SPACE_READ_AHEAD_BYTES
#define SPACE_READ_AHEAD_BYTES (4 << 20)
#endif
constexpr size_t kReadAheadBytes = SPACE_READ_AHEAD_BYTES;

// Threads that read directories, the printer included.
constexpr size_t kMaxThreads = 256;

class ReadAhead {
 public:
  // Reads the tree below `start_path` (ending in a separator): with
  // SPACE_THREADS threads when that holds a number from 1 to kMaxThreads,
  // else with a pool that sizes itself. `filter`, when given, outlives the
  // walk and is handed to every read (see platform::SubdirFilter).
  explicit ReadAhead(const char* start_path, const platform::SubdirFilter* filter = nullptr);
  // The same with `reader`, a pool of `pool`'s size and `budget` bytes of
  // listings read ahead.
  ReadAhead(const char* start_path, DirReader& reader, PoolSize pool, size_t budget);
  // Stops the readers and frees the tree.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  DirNode* Root() { return &root_; }
  // Makes `node`'s listing and children ready. Throws std::bad_alloc when
  // memory ran out reading it here.
  void Await(DirNode* node);
  // The printer is done with `node`, whose children are all done.
  void Done(DirNode* node);

 private:
  enum class ReadEnd { kRead, kGivenBack, kOutOfMemory };
  enum class PaceMode { kWaitForRoom, kNeverWait };

  struct ReaderSample;

  static void RunReader(void* self);
  void Reader();
  void Measure(size_t entries, std::chrono::steady_clock::time_point start, ReaderSample* sample);
  DirNode* FirstReadable() const;
  // Reads `node`, claimed by this thread, and publishes what it read (the
  // number of its entries in `*entries`) or gives the node back. A node
  // published is the printer's: the reader no longer touches it.
  ReadEnd ReadClaimed(DirNode* node, std::unique_lock<std::mutex>& lock, size_t* entries = nullptr,
                      PaceMode mode = PaceMode::kWaitForRoom);
  bool Pace(DirNode* node, size_t listing_bytes, PaceMode mode);
  void Recount(DirNode* node, size_t bytes);
  void Publish(DirNode* node);
  void GiveBack(DirNode* node);
  void Start(const char* start_path);
  void Starve(std::unique_lock<std::mutex>& lock, DirNode* head);
  void ForgetReadAhead(DirNode* head);
  void Unread(DirNode* node);
  void EndReader();
  size_t ReadersToStart() const;
  void StartWantedReaders(std::unique_lock<std::mutex>& lock);

  SystemReader system_reader_;
  DirReader& reader_;
  const size_t budget_;
  DirNode root_;
  std::mutex mu_;
  std::condition_variable work_;  // readers: a directory to read, room, or the stop
  std::condition_variable room_;  // reads waiting in Pace: room, a new head, or the stop
  std::condition_variable read_;  // the printer: a read ended, readers are wanted or ended
  DirNode* frontier_ = nullptr;   // its head
  DirNode* awaited_ = nullptr;    // what the printer waits for in Await
  DirNode* kept_for_printer_ = nullptr;  // an unread head the printer reads next
  size_t unread_ = 1;             // nodes of the frontier not being read
  std::atomic<size_t> ahead_bytes_{0};  // changed under the lock, except by Done
  size_t idle_ = 0;               // readers waiting for work
  size_t started_ = 0;            // readers started
  size_t live_readers_ = 0;       // of them, not ended
  size_t reader_cap_;             // lowered when the system refuses a thread or memory
  bool stop_ = false;
  bool starved_ = false;          // memory ran out: the printer reads alone from now on
  PoolSize pool_;
  std::vector<platform::Thread*> readers_;  // the printer's
};
