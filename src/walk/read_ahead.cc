#include "walk/read_ahead.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "platform/process.h"

namespace {

// SPACE_THREADS as a number from 1 to kMaxThreads; 0 when unset or anything else.
size_t FixedThreads() {
  std::string value;
  if (!platform::GetEnv("SPACE_THREADS", &value) || value.empty() || value.size() > 3 ||
      value.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  size_t n = std::stoul(value);
  return n >= 1 && n <= kMaxThreads ? n : 0;
}

size_t Processors() { return std::max(1u, std::thread::hardware_concurrency()); }

PoolSize InitialPool() {
  size_t fixed = FixedThreads();
  if (fixed) return PoolSize(fixed, fixed, platform::Now(), platform::BusyProcessorTime);
  // The printer does little besides reading: one thread per processor keeps
  // them all busy on a tree in the cache.
  return PoolSize(Processors(), kMaxThreads, platform::Now(), platform::BusyProcessorTime);
}

// Frees the tree below `top` bottom up, without recursion or allocation: a
// tree read ahead may be deeper than any stack.
void FreeBelow(DirNode* top) {
  DirNode* node = top;
  for (;;) {
    while (node->subdirs > 0) {
      DirNode* last = &node->children[node->subdirs - 1];
      if (last->subdirs > 0) {
        node = last;
        continue;
      }
      --node->subdirs;
    }
    node->children.reset();
    if (node == top) return;
    node = node->parent;
  }
}

void MakeChildren(DirNode* node) {
  const platform::Listing& listing = node->dir.listing;
  if (listing.subdirs == 0) return;
  node->children.reset(new DirNode[listing.subdirs]);
  node->subdirs = listing.subdirs;
  DirNode* child = node->children.get();
  for (const platform::Entry& entry : listing.entries) {
    if (!(entry.attrib & platform::kDirectory)) continue;
    child->parent = node;
    child->dir.parent = &node->dir;
    child->dir.name = listing.NativeNameOf(entry);
    ++child;
  }
}

// What a reader measures for the pool's size. Its processor time costs a
// system call, so it is asked for once every kCpuSampleReads reads or
// kCpuSampleTime of reading, whichever comes first, and covers them all:
// between reads a reader only waits.
struct ReaderSample {
  static constexpr size_t kCpuSampleReads = 8;
  static constexpr std::chrono::milliseconds kCpuSampleTime{1};
  size_t reads = 0, entries = 0;
  std::chrono::nanoseconds wall{0};
  std::chrono::nanoseconds cpu_before = platform::ThreadCpuTime();
};

}  // namespace

ReadAhead::ReadAhead(const char* start_path, const platform::SubdirFilter* filter)
    : system_reader_(filter), reader_(system_reader_), budget_(kReadAheadBytes),
      piece_(std::max<size_t>(budget_ / 32, 1)), queue_(InitialPool()) {
  platform::TuneAllocator(static_cast<unsigned>(Processors()));
  Start(start_path);
}

ReadAhead::ReadAhead(const char* start_path, DirReader& reader, PoolSize pool, size_t budget)
    : reader_(reader), budget_(budget), piece_(std::max<size_t>(budget_ / 32, 1)), queue_(std::move(pool)) {
  Start(start_path);
}

void ReadAhead::Start(const char* start_path) {
  root_.dir.name = start_path;
  frontier_ = &root_;
  processors_ = Processors();
  reader_cap_ = std::min({kMaxThreads, reader_.ConcurrentReads(), queue_.PoolNow().most}) - 1;
  // Room for every reader now: starting one allocates nothing more here.
  readers_.reserve(reader_cap_);
}

ReadAhead::~ReadAhead() {
  if (!readers_.empty()) queue_.StopReaders();
  for (platform::Thread* reader : readers_) platform::JoinThread(reader);
  // Requests left are let go with their nodes.
  FreeBelow(&root_);
}

void ReadAhead::RunReader(void* self) { static_cast<ReadAhead*>(self)->Reader(); }

void ReadAhead::Reader() {
  ReaderSample sample;
  bool measure = true;
  while (DirNode* node = queue_.Take()) {
    auto start = platform::Now();
    Read(node);
    bool out_of_memory = node->out_of_memory;
    size_t reads = 0;
    std::chrono::nanoseconds cpu(0);
    if (measure && !out_of_memory) {
      sample.wall += platform::Now() - start;
      sample.entries += node->dir.listing.entries.size();
      if (++sample.reads >= ReaderSample::kCpuSampleReads || sample.wall >= ReaderSample::kCpuSampleTime) {
        reads = sample.reads;
        cpu = platform::ThreadCpuTime() - sample.cpu_before;
      }
    }
    // From here on the node is the printer's.
    measure = queue_.Complete(node, reads, sample.entries, sample.wall, cpu);
    if (reads) sample = ReaderSample();
    // One thread fewer asks less of the memory that is left; the printer
    // reads what the readers cannot.
    if (out_of_memory) return queue_.EndReader();
  }
}

// One piece of `node`'s read, on any thread; the node is this thread's.
void ReadAhead::Read(DirNode* node) {
  try {
    reader_.Read(&node->dir, node->allowance);
  } catch (const std::bad_alloc&) {
    node->out_of_memory = true;
  }
}

void ReadAhead::Await(DirNode* node) {
  Collect(false);
  while (node->state != DirNode::State::kRead) {
    assert(node == frontier_);
    bool requested = node->state == DirNode::State::kRequested;
    if (requested ? !Dispatching(queue_.PoolNow()) && queue_.Withdraw(node) : Begin(node, SIZE_MAX)) {
      in_flight_ -= requested;
      ReadHere(node);
    } else if (!requested && in_flight_ == 0) {
      // Only paused reads hold the descriptors it needs.
      GiveBackPaused();
    } else {
      // While a reader has it, the printer reads beyond what is queued,
      // and waits only with nothing there to read: a queued request done
      // here would be one the reader does next, and the two would take
      // turns. While reads under way hold the descriptors it needs, the
      // printer does another request.
      if (requested) Refill();
      if (DirNode* other = requested ? nullptr : queue_.TakeOne()) {
        --in_flight_;
        Read(other);
        Finish(other, true);
      } else {
        Collect(!(requested && ReadAheadHere()));
      }
    }
  }
  printer_in_ = node;
  Refill();
}

void ReadAhead::Done(DirNode* node) {
  assert(node->state == DirNode::State::kRead && !node->prev && !node->next);
  node->dir.listing.Release();
  node->children.reset();  // all done, so none has children left
  node->subdirs = 0;
  Recount(node, 0);
  assert(node != &root_ || (ahead_bytes_ == 0 && in_flight_ == 0));
  printer_in_ = node->parent;
  Collect(false);
  Refill();
}

// Readies a piece of `node`'s read with `allowance` bytes; false when no
// descriptor is to be had until reads under way end.
bool ReadAhead::Begin(DirNode* node, size_t allowance) {
  assert(node->state == DirNode::State::kUnread || node->state == DirNode::State::kPaused);
  if (!reader_.Begin(&node->dir, Alone())) return false;
  paused_ -= node->state == DirNode::State::kPaused;
  node->state = DirNode::State::kRequested;
  node->allowance = allowance;
  Recount(node, allowance == SIZE_MAX ? node->dir.listing.Bytes() : allowance);
  return true;
}

// What a piece read ahead of the printer may count: what `node` counts
// already and at most a piece more, within the budget's room.
size_t ReadAhead::PieceAllowance(const DirNode* node) const {
  return node->counted + std::min(budget_ - ahead_bytes_, piece_);
}

// While a reader has the head, the printer reads a piece of the first
// directory that no request holds, as a reader would, rather than wait:
// one the readers come to only after all that is queued for them. Only
// while the readers leave a processor free: else its reading takes the
// processor it needs to keep them supplied. False when it reads nothing:
// none to read, no room, no descriptor, or memory ran out.
bool ReadAhead::ReadAheadHere() {
  if (queue_.PoolNow().readers >= processors_) return false;
  DirNode* node = ahead_bytes_ < budget_ ? NextForReaders(true) : nullptr;
  if (!node || !Begin(node, PieceAllowance(node))) return false;
  Read(node);
  // A read put back for want of a descriptor waits for reads under way.
  return Finish(node, true) && node->state != DirNode::State::kUnread;
}

// The printer reads the rest of `node` itself, the directory it waits for.
void ReadAhead::ReadHere(DirNode* node) {
  node->allowance = SIZE_MAX;
  Recount(node, node->dir.listing.Bytes());
  Read(node);
  if (Finish(node, true)) return;
  // Alone, holding what one thread would, the printer fails where one
  // thread would.
  if (starved_) throw std::bad_alloc();
  Starve(node);
}

// Takes the completions; with `wait`, waits for one first.
void ReadAhead::Collect(bool wait) {
  if (in_flight_ == 0) return;
  for (DirNode* node = queue_.Completions(wait); node;) {
    DirNode* next = node->queued;
    node->queued = nullptr;
    --in_flight_;
    if (!Finish(node, false)) reader_cap_ = std::min(reader_cap_, queue_.PoolNow().readers);
    node = next;
  }
}

// A piece of `node`'s read is back, read `here` on the printer's thread or
// on a reader's. False when memory ran out for it: the node is unread again.
bool ReadAhead::Finish(DirNode* node, bool here) {
  assert(node->state == DirNode::State::kRequested && !node->queued);
  if (!node->out_of_memory) {
    // A reader's open may have run out beside the printer's own for a
    // moment: only the printer alone tells that one thread would fail.
    switch (reader_.End(&node->dir, here && Alone())) {
      case platform::ReadEnd::kRetry:
        Recount(node, 0);
        node->state = DirNode::State::kUnread;
        return true;
      case platform::ReadEnd::kMore:
        Recount(node, node->dir.listing.Bytes());
        node->state = DirNode::State::kPaused;
        ++paused_;
        return true;
      case platform::ReadEnd::kEnded:
        try {
          MakeChildren(node);
          Publish(node);
          return true;
        } catch (const std::bad_alloc&) {
        }
    }
  }
  node->out_of_memory = false;
  Unread(node);
  return false;
}

// The node's children take its place in the frontier.
void ReadAhead::Publish(DirNode* node) {
  Recount(node, node->dir.listing.Bytes() + node->subdirs * sizeof(DirNode));
  DirNode* before = node->prev;
  DirNode* after = node->next;
  for (size_t i = 0; i < node->subdirs; ++i) {
    DirNode* child = &node->children[i];
    child->prev = before;
    (before ? before->next : frontier_) = child;
    before = child;
  }
  (before ? before->next : frontier_) = after;
  if (after) after->prev = before;
  node->prev = node->next = nullptr;
  node->state = DirNode::State::kRead;
}

// What `node` counts against the budget becomes `bytes`.
void ReadAhead::Recount(DirNode* node, size_t bytes) {
  assert(ahead_bytes_ >= node->counted);
  ahead_bytes_ += bytes - node->counted;
  node->counted = bytes;
}

// Requests for the readers, while the budget has room: enough that a
// reader woken once finds a run of them waiting, as each directory's
// subdirectories reach the readers only through the printer.
void ReadAhead::Refill() {
  if (reader_cap_ == 0 || starved_) return;
  ReadQueue::Pool pool = queue_.PoolNow();
  size_t readers = std::min(pool.wanted - 1, reader_cap_);
  bool printer_reads_next = !Dispatching(pool);
  while (in_flight_ < kRequestsPerReader * readers && ahead_bytes_ < budget_) {
    DirNode* node = NextForReaders(printer_reads_next);
    if (!node) return;
    if (!Begin(node, PieceAllowance(node))) return;
    ++in_flight_;
    if (queue_.Push(node, readers)) StartReader();
  }
}

// The first node that no request holds, but the head while it is the
// printer's next, when it reads that itself as it comes to it.
DirNode* ReadAhead::NextForReaders(bool printer_reads_next) const {
  DirNode* node = frontier_;
  if (printer_reads_next && node && node->state != DirNode::State::kRequested && node->parent == printer_in_)
    node = node->next;
  size_t skipped = 0;
  for (; node && node->state == DirNode::State::kRequested; node = node->next) ++skipped;
  assert(skipped <= in_flight_);
  return node;
}

// Where reads wait on the file system rather than work, and readers
// outnumber the processors, the printer leaves every read it can to them:
// one of its own would hold up the requests they wait for.
bool ReadAhead::Dispatching(const ReadQueue::Pool& pool) const {
  return pool.wanted > processors_ && pool.reads_wait;
}

// A paused read lets go of its descriptor and listing, to be read again.
void ReadAhead::GiveBackPaused() {
  DirNode* node = frontier_;
  while (node->state != DirNode::State::kPaused) node = node->next;
  --paused_;
  Unread(node);
}

void ReadAhead::StartReader() {
  if (readers_.size() == readers_.capacity()) return;
  queue_.AddReader();
  if (platform::Thread* reader = reader_.StartThread(RunReader, this)) {
    readers_.push_back(reader);
    return;
  }
  // Where the system grants fewer than asked for, the walk goes on with
  // those it got.
  queue_.EndReader();
  reader_cap_ = std::min(reader_cap_, queue_.PoolNow().readers);
}

// Memory ran out for the printer's own read of `head`: the readers end,
// what they hold is given back, and what was read ahead is let go, so that
// the printer goes on with the memory one thread would have had.
void ReadAhead::Starve(DirNode* head) {
  starved_ = true;
  reader_cap_ = 0;
  if (!readers_.empty()) queue_.StopReaders();
  // Each has passed its last use of the lock: their stacks go back now.
  for (platform::Thread* reader : readers_) platform::JoinThread(reader);
  readers_.clear();
  while (DirNode* node = queue_.TakeOne()) {
    --in_flight_;
    Unread(node);
  }
  for (DirNode* node = in_flight_ ? queue_.Completions(false) : nullptr; node;) {
    DirNode* next = node->queued;
    node->queued = nullptr;
    --in_flight_;
    node->out_of_memory = false;
    Unread(node);
    node = next;
  }
  while (paused_) GiveBackPaused();
  assert(in_flight_ == 0);
  ForgetReadAhead(head);
}

// With no read under way: the printer is in the directories above `head`,
// unread, and everything it has not come to yet is made unread again, its
// subdirectories forgotten. The frontier is then `head` and the
// subdirectories that follow each of its ancestors' subdirectories on the
// way down, in print order; and only the directories the printer is in
// count against the budget. Nothing here allocates.
void ReadAhead::ForgetReadAhead(DirNode* head) {
  assert(head->state == DirNode::State::kUnread && in_flight_ == 0 && !paused_);
  frontier_ = head;
  head->prev = head->next = nullptr;
  DirNode* last = head;
  size_t held = 0;
  for (DirNode* on_path = head; on_path->parent; on_path = on_path->parent) {
    DirNode* parent = on_path->parent;
    held += parent->counted;
    DirNode* end = parent->children.get() + parent->subdirs;
    for (DirNode* later = on_path + 1; later < end; ++later) {
      if (later->state == DirNode::State::kRead) Unread(later);
      assert(later->state == DirNode::State::kUnread);
      later->prev = last;
      later->next = nullptr;
      last->next = later;
      last = later;
    }
  }
  ahead_bytes_ = held;
}

// `node`, begun or read but not come to by the printer, is made unread.
void ReadAhead::Unread(DirNode* node) {
  FreeBelow(node);
  reader_.Unread(&node->dir);
  node->subdirs = 0;
  Recount(node, 0);
  node->state = DirNode::State::kUnread;
}
