// The open descriptors of the POSIX reader: a budget shared by every thread
// that reads, and the descriptors that directories keep between reads.
//
// A subdirectory is opened relative to its parent, so that no path grows
// with the depth. A directory therefore keeps its descriptor from the end
// of its read until its last subdirectory has been opened; then it is
// closed. A read holds up to kSlotsPerRead descriptors at once (the
// directory, a copy for a DIR stream, and one more while it reopens an
// ancestor).
//
// Who owns what:
// - `used_`, `reads_`, `stalled_`, `cache_` and every Dir::Handle are
//   guarded by `mu_`. A descriptor in Dir::Handle::fd belongs to the budget,
//   not to the thread that opened it: any thread may close it, but only
//   while no read has it pinned.
// - The descriptors a read opens for itself belong to that read until it
//   closes them or hands one to its directory (Keep).
//
// Invariants (under `mu_`):
// - used_ <= budget_: kSlotsPerRead for each read in progress, plus one
//   for each kept descriptor and each being closed, less the slots of reads
//   that kept theirs. Descriptors are closed outside the lock, which every
//   read takes several times: a close holds its slot until it is done.
// - A directory is in `cache_` exactly when it keeps a descriptor; one with
//   pins > 0 is never closed.
//
// Why nothing waits forever: a read waits for slots only while other reads
// hold them (each ends) or every kept descriptor is pinned (pins are held
// only for the duration of one openat). When the process runs out of
// descriptors the budget did not foresee, a read closes an unpinned kept
// one, or waits for another read that is not itself waiting; the last read
// that could wait fails instead, with EMFILE.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace platform {

constexpr size_t kSlotsPerRead = 3;
// At most this many descriptors, however high RLIMIT_NOFILE.
constexpr size_t kMaxDescriptors = 4096;
// Left to the rest of the process.
constexpr size_t kSpareDescriptors = 2;

class Descriptors {
 public:
  Descriptors();

  // Reads the budget holds at once: below two, reads are not spread over
  // threads, so that a starved process walks as one thread would.
  size_t ConcurrentReads() const { return std::max<size_t>(budget_ / kSlotsPerRead, 1); }

  // Takes the slots of one read, waiting while other reads and kept
  // descriptors that cannot be closed fill the budget.
  void Reserve();
  void Release(size_t slots);
  // `dir` keeps `fd`, which held a slot of the read, until its `subdirs`
  // subdirectories have been opened.
  void Keep(Dir* dir, int fd, size_t subdirs);
  // The descriptor of `dir`, pinned until ChildOpened; -1 with errno when it
  // cannot be reopened. A closed one is reopened by name from the nearest
  // ancestor that still has one, component by component; `*slots` loses the
  // one that `dir` then keeps.
  int Pin(Dir* dir, size_t* slots);
  // A subdirectory of `dir` has been opened (or failed to open); `pinned`
  // when that held a pin on `dir`.
  void ChildOpened(Dir* dir, bool pinned);
  // A subdirectory of `dir` whose read was given up will be opened again.
  void ChildReturned(Dir* dir);
  void Forget(Dir* dir);
  // Opens directory `name` relative to `dir_fd`; on running out of
  // descriptors, closes kept ones and tries again.
  int OpenDirectoryAt(int dir_fd, const char* name, int flags);

 private:
  bool MakeRoom();
  void Unpin(Dir* dir);
  Dir* UnpinnedKept() const;
  void Close(std::unique_lock<std::mutex>& lock, Dir* dir);
  void AddToCache(Dir* dir);

  std::mutex mu_;
  std::condition_variable released_;
  const size_t budget_;
  size_t used_ = 0;          // slots reserved by reads and held by kept descriptors
  size_t reads_ = 0;         // reads holding slots
  size_t stalled_ = 0;       // of them, waiting in MakeRoom
  std::vector<Dir*> cache_;  // directories that keep a descriptor
};

Descriptors& descriptors();

// The slots of one read, given back when it ends but for those that went to
// directories keeping their descriptor.
class ReadSlots {
 public:
  ReadSlots() { descriptors().Reserve(); }
  ~ReadSlots() { descriptors().Release(held_); }
  ReadSlots(const ReadSlots&) = delete;
  ReadSlots& operator=(const ReadSlots&) = delete;
  size_t* held() { return &held_; }

 private:
  size_t held_ = kSlotsPerRead;
};

}  // namespace platform
