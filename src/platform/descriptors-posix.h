// The open descriptors of the POSIX reader: a budget shared by every thread
// that reads, and the descriptors that directories keep between reads.
//
// A subdirectory is opened relative to its parent, so that no path grows
// with the depth. A directory therefore keeps its descriptor from the end
// of its read until its last subdirectory has been opened, unless the budget
// needs the slot first: then the least recently used unpinned one goes,
// which in a walk that goes depth first is the shallowest, the one needed
// last. A read holds up to kSlotsPerRead descriptors at once (the directory,
// a copy for it to keep where a DIR stream reads it, and one more while it
// gets an ancestor's back).
//
// Getting a closed descriptor back (Pin) costs about one openat per directory
// the walk climbs back through, not a walk down from the start path per
// level, cheapest way first:
// - When a directory lets go of its descriptor because its last
//   subdirectory has been opened (Retire), the nearest ancestor that still
//   has subdirectories to open, if it lacks a descriptor and nothing between
//   holds one, gets one through "../.." from that subdirectory: one openat
//   however far up. A read that needs it meanwhile waits (`arriving`); one
//   that had begun to find it by name before may install its own first, and
//   the one handed up is then closed.
// - Else from a subdirectory that keeps its descriptor, through "..".
// - Else by name, component by component, from the nearest ancestor that
//   keeps one or from the start path; a walk that sees its directory get a
//   descriptor another way meanwhile gives way and starts over, so that
//   reads climbing out of a branch side by side wait for the hand-up below
//   rather than each walk down from far above.
// Whichever way, the directory reached is checked against the one first read
// there (Dir::id, device and inode). A reopen by name that meets another
// directory fails the open of the subdirectory with ESTALE; a way up that
// meets another is dropped, and the directory is found by name instead.
//
// Who owns what:
// - `used_`, `reads_`, `budget_`, `closing_`, the cache list and every
//   Dir::Handle are guarded by `mu_`. A descriptor in Dir::Handle::fd
//   belongs to the budget, not to the thread that opened it: any thread may
//   close it, but only while no read has it pinned.
// - The descriptors a read opens for itself belong to that read, which tells
//   them from a pinned one by where it got each, never by its number, until
//   it closes them or hands one to its directory (Keep, Install).
// - A retiring directory's slot passes to the ancestor it hands up to, or is
//   given back once the descriptor opened for that is closed.
//
// Invariants (under `mu_`), checked by Check():
// - used_ <= budget_, also when the budget is lowered (never below what is
//   in use): kSlotsPerRead for each read in progress, plus one for each kept
//   descriptor and each being closed or handed up, less the slots of reads
//   that kept theirs. Descriptors are closed outside the lock: a close holds
//   its slot until it is done.
// - A directory is in the cache list exactly when it keeps a descriptor;
//   `kept_` counts them and `closing_` those taken off to be closed, all
//   counted in `used_`. One with pins > 0 is never
//   closed. Pins are held only for the duration of an openat and its check.
//
// Why nothing waits forever: a read waits for slots only while other reads
// hold them (each ends or steps back) or every kept descriptor is pinned
// (each pin ends); it waits for an `arriving` descriptor only while another
// thread opens it, which waits for nothing. When the process runs out of
// descriptors the budget did not foresee (a limit lowered during the run),
// a read closes an unpinned kept one; failing that, it steps back (StepBack)
// with nothing held, the budget lowered below what is in use, so that fewer
// reads run at once, down to one, and waits for closes under way; the only
// read left, with none under way, fails with EMFILE where one thread would
// have. A read paused in its pacer (Pause) waits for the walk, which may be
// waiting for the very read that waits for slots: so paused reads do not
// count as reads that will give slots back. Where only paused reads hold
// the budget, a read that needs slots takes them above it, and one that
// runs out of descriptors with only paused reads beside it fails as the
// only read left.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>

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
  size_t ConcurrentReads();

  // Takes the slots of one read, waiting while other reads and kept
  // descriptors that cannot be closed fill the budget.
  void Reserve();
  void Release(size_t slots);
  // `dir` keeps `fd`, which held a slot of the read, until its `subdirs`
  // subdirectories have been opened; with `fd` -1 it keeps none, and is
  // found again when they are.
  void Keep(Dir* dir, int fd, size_t subdirs);
  // The descriptor of `dir`, pinned until ChildOpened; -1 with errno when it
  // cannot be had back (ESTALE: `dir` or an ancestor is another directory
  // now). `*slots` loses the one that `dir` keeps when this read got it back.
  int Pin(Dir* dir, size_t* slots);
  // `child` has been opened as `child_fd` (-1: it failed to open); `pinned`
  // when that held a pin on its parent.
  void ChildOpened(Dir* child, bool pinned, int child_fd);
  // `child`, whose read was given up, will be opened again.
  void ChildReturned(Dir* child);
  void Forget(Dir* dir);
  // Opens directory `name` relative to `dir_fd`; on running out of
  // descriptors, closes kept ones and tries again.
  int OpenDirectoryAt(int dir_fd, const char* name, int flags);
  // A copy of `fd`, made as OpenDirectoryAt opens.
  int Duplicate(int fd);
  // A read waits, in its pacer, for the walk to make room for its listing:
  // it holds its descriptors without using them until Resume.
  void Pause();
  void Resume();
  // The process ran out of descriptors opening `child` (`pinned`: with a pin
  // on its parent): unless this read is the only one, it lets go of its pin
  // and slots, lowers the budget to what the other reads hold, and waits to
  // take `*slots` again. False: it is alone, and fails as one thread would.
  bool StepBack(Dir* child, bool pinned, size_t* slots);

 private:
  bool MakeRoom();
  template <typename Open>
  int WithRoom(Open open);
  void WaitForSlots(std::unique_lock<std::mutex>& lock);
  int FromSubdirectory(std::unique_lock<std::mutex>& lock, Dir* dir, size_t* slots);
  int ByName(std::unique_lock<std::mutex>& lock, Dir* dir, size_t* slots);
  int Install(std::unique_lock<std::mutex>& lock, Dir* dir, int fd, size_t* slots);
  void Unpin(std::unique_lock<std::mutex>& lock, Dir* dir, int child_fd);
  void Retire(std::unique_lock<std::mutex>& lock, Dir* dir, int child_fd);
  Dir* NeedsHandUp(Dir* dir) const;
  Dir* OldestUnpinned() const;
  void Close(std::unique_lock<std::mutex>& lock, Dir* dir);
  void Link(Dir* dir);
  void Unlink(Dir* dir);
  void Check() const;

  std::mutex mu_;
  std::condition_variable released_;  // slots, pins and arriving descriptors
  size_t budget_;
  size_t used_ = 0;          // slots reserved by reads and held by kept descriptors
  size_t reads_ = 0;         // reads holding slots
  size_t paused_ = 0;        // of them, waiting in their pacer
  size_t kept_ = 0;          // directories that keep a descriptor
  size_t closing_ = 0;       // kept descriptors being closed
  Dir* oldest_ = nullptr;    // of them, least recently used first
  Dir* newest_ = nullptr;
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
