#include "walk/read_ahead.h"

#include <algorithm>
#include <cassert>
#include <new>
#include <string>
#include <thread>
#include <utility>

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

}  // namespace

ReadAhead::ReadAhead(const char* start_path, const platform::SubdirFilter* filter)
    : system_reader_(filter), reader_(system_reader_), budget_(kReadAheadBytes), pool_(InitialPool()) {
  platform::TuneAllocator(static_cast<unsigned>(Processors()));
  Start(start_path);
}

ReadAhead::ReadAhead(const char* start_path, DirReader& reader, PoolSize pool, size_t budget)
    : reader_(reader), budget_(budget), pool_(std::move(pool)) {
  Start(start_path);
}

void ReadAhead::Start(const char* start_path) {
  root_.dir.name = start_path;
  frontier_ = &root_;
  reader_cap_ = std::min(kMaxThreads, reader_.ConcurrentReads()) - 1;
  readers_.reserve(reader_cap_);
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  work_.notify_all();
  room_.notify_all();
  for (platform::Thread* reader : readers_) platform::JoinThread(reader);
  FreeBelow(&root_);
}

void ReadAhead::RunReader(void* self) { static_cast<ReadAhead*>(self)->Reader(); }

// What a reader measures for the pool's size. Its processor time costs a
// system call, so it is asked for once every kCpuSampleReads reads or
// kCpuSampleTime of reading, whichever comes first, and covers them all:
// between reads a reader only waits.
struct ReadAhead::ReaderSample {
  static constexpr size_t kCpuSampleReads = 8;
  static constexpr std::chrono::milliseconds kCpuSampleTime{1};
  size_t reads = 0, entries = 0;
  std::chrono::nanoseconds wall{0};
  std::chrono::nanoseconds cpu_before = platform::ThreadCpuTime();
};

void ReadAhead::Reader() {
  ReaderSample sample;
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    ++idle_;
    work_.wait(lock, [this] { return stop_ || starved_ || FirstReadable(); });
    --idle_;
    if (stop_ || starved_) return EndReader();
    if (live_readers_ >= pool_.Wanted()) {
      // The pool went back to a smaller size: the work this reader was
      // woken for goes to another.
      work_.notify_one();
      return EndReader();
    }
    DirNode* node = FirstReadable();
    auto start = platform::Now();
    size_t entries = 0;
    ReadEnd end = ReadClaimed(node, lock, &entries);
    if (end == ReadEnd::kOutOfMemory) {
      // One thread fewer asks less of the memory that is left; the printer
      // reads what the readers cannot.
      reader_cap_ = std::min(reader_cap_, started_);
      return EndReader();
    }
    if (end == ReadEnd::kRead && !pool_.Settled()) Measure(entries, start, &sample);
  }
}

// Under the lock, as the reader's last act.
void ReadAhead::EndReader() {
  assert(live_readers_ > 0);
  --live_readers_;
  read_.notify_one();
}

void ReadAhead::Measure(size_t entries, std::chrono::steady_clock::time_point start, ReaderSample* sample) {
  auto now = platform::Now();
  sample->wall += now - start;
  sample->entries += entries;
  if (++sample->reads < ReaderSample::kCpuSampleReads && sample->wall < ReaderSample::kCpuSampleTime) return;
  auto cpu = platform::ThreadCpuTime();
  pool_.Sample(sample->reads, sample->entries, sample->wall, cpu - sample->cpu_before, now);
  *sample = ReaderSample{0, 0, std::chrono::nanoseconds(0), cpu};
}

void ReadAhead::Await(DirNode* node) {
  if (node->state == DirNode::State::kRead) return;
  std::unique_lock<std::mutex> lock(mu_);
  assert(node->state == DirNode::State::kRead || node == frontier_);
  assert(!kept_for_printer_ || kept_for_printer_ == node);
  awaited_ = node;
  if (node->state == DirNode::State::kReading) room_.notify_all();  // its read may wait in Pace
  bool may_help = true;
  while (node->state != DirNode::State::kRead) {
    StartWantedReaders(lock);
    if (node->state == DirNode::State::kUnread) {
      kept_for_printer_ = nullptr;
      if (ReadClaimed(node, lock) == ReadEnd::kOutOfMemory) {
        // Alone, holding what one thread would, the printer fails where one
        // thread would.
        if (starved_) throw std::bad_alloc();
        Starve(lock, node);
      }
    } else if (DirNode* next = may_help ? FirstReadable() : nullptr) {
      // Another thread reads the head: read what comes after it meanwhile.
      may_help = ReadClaimed(next, lock, nullptr, PaceMode::kNeverWait) != ReadEnd::kOutOfMemory;
    } else {
      read_.wait(lock, [this, node] { return node->state != DirNode::State::kReading || ReadersToStart() > 0; });
    }
  }
  awaited_ = nullptr;
}

void ReadAhead::Done(DirNode* node) {
  assert(node->state == DirNode::State::kRead);
  node->dir.listing.Release();
  node->children.reset();  // all done, so none has children left
  node->subdirs = 0;
  // Without the lock, which the printer would otherwise take for every
  // directory: a reader that found no room saw the budget under the lock,
  // and waits by the time this one is taken to wake it.
  size_t before = ahead_bytes_.fetch_sub(node->counted);
  assert(node != &root_ || before == node->counted);  // nothing else is left
  bool room_made = before >= budget_ && before - node->counted < budget_;
  node->counted = 0;
  if (!room_made) return;
  { std::lock_guard<std::mutex> lock(mu_); }
  work_.notify_all();
  room_.notify_all();
}

// The first unread node of the frontier but the one kept for the printer,
// when it may be read now: the one the printer waits for always, any other
// while the budget has room.
DirNode* ReadAhead::FirstReadable() const {
  assert(!kept_for_printer_ || (kept_for_printer_ == frontier_ && kept_for_printer_->state == DirNode::State::kUnread));
  size_t skipped = 0;
  DirNode* node = frontier_;
  for (; node && (node->state != DirNode::State::kUnread || node == kept_for_printer_); node = node->next) ++skipped;
  assert(skipped <= started_ + 2);
  if (!node || node == awaited_) return node;
  return ahead_bytes_ < budget_ ? node : nullptr;
}

ReadAhead::ReadEnd ReadAhead::ReadClaimed(DirNode* node, std::unique_lock<std::mutex>& lock, size_t* entries,
                                          PaceMode mode) {
  assert(node->state == DirNode::State::kUnread && unread_ > 0);
  node->state = DirNode::State::kReading;
  --unread_;
  lock.unlock();
  ReadEnd end = ReadEnd::kRead;
  try {
    // One pointer captured: a std::function holds that without allocating.
    struct PaceOf {
      ReadAhead* self;
      DirNode* node;
      PaceMode mode;
    } pace{this, node, mode};
    if (reader_.Read(&node->dir, [&pace](size_t bytes) { return pace.self->Pace(pace.node, bytes, pace.mode); }))
      MakeChildren(node);
    else
      end = ReadEnd::kGivenBack;
  } catch (const std::bad_alloc&) {
    reader_.Unread(&node->dir);
    end = ReadEnd::kOutOfMemory;
  }
  if (entries) *entries = node->dir.listing.entries.size();
  lock.lock();
  if (end == ReadEnd::kRead) {
    Publish(node);
  } else {
    GiveBack(node);
  }
  return end;
}

// Counts the listing's bytes as they arrive; past the budget, only the read
// of the directory the printer waits for goes on, and any other waits with
// what it has until there is room or the printer waits for it. The
// printer's own reads never wait: room is made only by the printer.
bool ReadAhead::Pace(DirNode* node, size_t listing_bytes, PaceMode mode) {
  std::unique_lock<std::mutex> lock(mu_);
  Recount(node, listing_bytes);
  auto may_go_on = [this, node] { return stop_ || starved_ || node == awaited_ || ahead_bytes_ < budget_; };
  if (mode == PaceMode::kWaitForRoom && !may_go_on()) {
    // The descriptors it holds are not given back until the walk makes room.
    reader_.PauseRead();
    room_.wait(lock, may_go_on);
    reader_.ResumeRead();
  }
  if (stop_) return false;
  return node == awaited_ || !starved_;
}

// What `node` counts against the budget becomes `bytes`.
void ReadAhead::Recount(DirNode* node, size_t bytes) {
  ahead_bytes_ += bytes - node->counted;  // modulo 2^n: the sum stays exact
  node->counted = bytes;
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
  unread_ += node->subdirs;
  // The printer waits for this node, so its first subdirectory, now the
  // head, is what the printer asks for next: it reads that one itself
  // instead of waking for it, which in a chain of single subdirectories
  // would cost a hand-over per level. Otherwise the head may have moved on
  // to a node that waited for room.
  bool keep = node == awaited_ && node->subdirs > 0;
  if (keep) kept_for_printer_ = &node->children[0];
  size_t for_readers = keep ? node->subdirs - 1 : std::max<size_t>(node->subdirs, 1);
  for (size_t i = std::min(for_readers, idle_); i > 0; --i) work_.notify_one();
  read_.notify_one();
  // Last: from here on the printer may take the node without the lock.
  node->state = DirNode::State::kRead;
}

// The walk stops or memory ran out: the node waits in its place in the
// frontier for another read.
void ReadAhead::GiveBack(DirNode* node) {
  Recount(node, 0);
  node->state = DirNode::State::kUnread;
  ++unread_;
  work_.notify_one();
  read_.notify_one();
}

// Memory ran out for the printer's own read of `head`: the readers give
// back what they were reading and end, and what was read ahead is let go,
// so that the printer goes on with the memory one thread would have had.
void ReadAhead::Starve(std::unique_lock<std::mutex>& lock, DirNode* head) {
  starved_ = true;
  reader_cap_ = 0;
  work_.notify_all();
  room_.notify_all();
  read_.wait(lock, [this] { return live_readers_ == 0; });
  // Each has passed its last use of the lock: their stacks go back now.
  for (platform::Thread* reader : readers_) platform::JoinThread(reader);
  readers_.clear();
  ForgetReadAhead(head);
}

// With no read under way: the printer is in the directories above `head`,
// unread, and everything it has not come to yet is made unread again, its
// subdirectories forgotten. The frontier is then `head` and the
// subdirectories that follow each of its ancestors' subdirectories on the
// way down, in print order; and only the directories the printer is in
// count against the budget. Nothing here allocates.
void ReadAhead::ForgetReadAhead(DirNode* head) {
  assert(head->state == DirNode::State::kUnread && live_readers_ == 0);
  kept_for_printer_ = nullptr;
  frontier_ = head;
  head->prev = head->next = nullptr;
  DirNode* last = head;
  unread_ = 1;
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
      ++unread_;
    }
  }
  ahead_bytes_ = held;
}

// `node`, read but not come to by the printer, is made unread.
void ReadAhead::Unread(DirNode* node) {
  FreeBelow(node);
  reader_.Unread(&node->dir);
  node->subdirs = 0;
  node->counted = 0;
  node->state = DirNode::State::kUnread;
}

// Readers start as work for them appears, up to what the pool wants.
size_t ReadAhead::ReadersToStart() const {
  size_t wanted = std::min(pool_.Wanted() - 1, reader_cap_);
  size_t unread = unread_ - (kept_for_printer_ != nullptr);
  if (started_ >= wanted || unread <= idle_) return 0;
  return std::min(wanted - started_, unread - idle_);
}

// Threads start outside the lock. Where the system grants fewer than asked
// for, the walk goes on with those it got.
void ReadAhead::StartWantedReaders(std::unique_lock<std::mutex>& lock) {
  size_t wanted = ReadersToStart();
  if (wanted == 0) return;
  started_ += wanted;
  live_readers_ += wanted;
  lock.unlock();
  size_t started = 0;
  for (; started < wanted; ++started) {
    platform::Thread* reader = reader_.StartThread(RunReader, this);
    if (!reader) break;
    readers_.push_back(reader);
  }
  lock.lock();
  started_ -= wanted - started;
  live_readers_ -= wanted - started;
  if (started < wanted) reader_cap_ = std::min(reader_cap_, started_);
}
