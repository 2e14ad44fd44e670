// Directories read ahead of the walk that prints them.
//
//   printer: frontier, budget, descriptors    readers: system calls only
//     Refill --- request (node, allowance) ---> Take
//        ^                                        | Read: open, one piece
//     Collect <--- completion (the node back) -- Complete
//     Await: reads the head itself; while a reader has it, reads further ahead
//
// One thread, the printer, walks the tree depth first and prints. It owns
// everything: the tree, the frontier (discovered directories not read yet,
// in print order), the budget of listings read ahead and, through
// DirReader's Begin and End, the platform's descriptors. Readers own a node
// only between Take and Complete, and touch nothing else; the one lock is
// the queue's (ReadQueue). A piece of a read stops past its allowance; the
// rest is read by a follow-up request, when there is room or when the
// printer comes to that directory, so no reader ever waits in a read.
//
// Invariants (checked by asserts):
// - A node is kUnread or kPaused in the frontier, kRequested in the queue,
//   a reader's hands or the completions (counted by `in_flight_`), or kRead
//   and out of the frontier, its children in its place.
// - `ahead_bytes_` is the sum of `counted`: a request counts its allowance,
//   a piece back its listing. Requests other than the printer's own start
//   only while it is below the budget, so listings are bounded by the
//   budget, one batch per request and the listing the printer reads.
// - The head of the frontier is the printer's while it is a subdirectory
//   of the directory the printer walks: readers get the nodes after it, so
//   that a chain of single subdirectories is not handed to and fro. Further
//   ahead of the printer, readers take it too, and always where reads wait
//   rather than work and readers outnumber the processors: there the
//   printer reads only what no request can hold.
// - Every directory is read once, unless memory runs out: then what was
//   read ahead is let go and read again later.
//
// Why nothing hangs: a reader waits only for a request; the printer waits
// only for a completion, and only while a reader holds a request, which it
// completes after a bounded piece, or while readers live to take one
// queued; the last to end wakes it. A read that finds no descriptor waits
// for reads under way; with none under way or paused it is alone, and goes
// on or fails as one thread would.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

#include "platform/dir_read.h"
#include "platform/thread.h"
#include "walk/dir_reader.h"
#include "walk/pool_size.h"
#include "walk/read_queue.h"

struct DirNode {
  enum class State : unsigned char { kUnread, kRequested, kPaused, kRead };

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
  DirNode* queued = nullptr;            // next in the queue
  size_t counted = 0;                   // bytes it counts against the budget
  size_t allowance = 0;                 // of the piece requested
  bool out_of_memory = false;           // the piece ran out of memory
  State state = State::kUnread;
};

// Listings read but not yet done with, beyond which only the directory the
// printer needs next is read.
#ifndef SPACE_READ_AHEAD_BYTES
#define SPACE_READ_AHEAD_BYTES (4 << 20)
#endif
constexpr size_t kReadAheadBytes = SPACE_READ_AHEAD_BYTES;

// Threads that read directories, the printer included.
constexpr size_t kMaxThreads = 256;

// Requests queued or under way per reader, at most.
constexpr size_t kRequestsPerReader = 16;

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
  static void RunReader(void* self);
  void Reader();
  void Start(const char* start_path);
  bool Alone() const { return in_flight_ == 0 && paused_ == 0; }
  bool Begin(DirNode* node, size_t allowance);
  void ReadHere(DirNode* node);
  bool ReadAheadHere();
  size_t PieceAllowance(const DirNode* node) const;
  void Read(DirNode* node);
  void Collect(bool wait);
  bool Finish(DirNode* node, bool here);
  void Publish(DirNode* node);
  void Recount(DirNode* node, size_t bytes);
  void Refill();
  DirNode* NextForReaders(bool printer_reads_next) const;
  bool Dispatching(const ReadQueue::Pool& pool) const;
  void GiveBackPaused();
  void StartReader();
  void Starve(DirNode* head);
  void ForgetReadAhead(DirNode* head);
  void Unread(DirNode* node);

  SystemReader system_reader_;
  DirReader& reader_;
  const size_t budget_;
  const size_t piece_;              // the most a request ahead may count
  DirNode root_;
  DirNode* frontier_ = nullptr;     // its head
  const DirNode* printer_in_ = nullptr;  // the directory the printer walks
  size_t paused_ = 0;               // kPaused nodes
  size_t ahead_bytes_ = 0;
  size_t in_flight_ = 0;            // requests pushed and not finished
  size_t reader_cap_;               // lowered when the system refuses a thread or memory
  size_t processors_;               // counted once, at the start
  bool starved_ = false;            // memory ran out: the printer reads alone from now on
  ReadQueue queue_;
  std::vector<platform::Thread*> readers_;
};
