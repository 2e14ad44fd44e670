// The descriptors the POSIX reader keeps between reads: a cache that only
// the walk's thread touches, so it has no lock. Readers on other threads
// use the descriptors it hands them (a parent pinned for the read of a
// subdirectory, room for the subdirectory's own) and make the system calls
// of reading; the cache keeps the books before and after.
//
// A subdirectory is opened relative to its parent, so that no path grows
// with the depth. A directory keeps its descriptor from the end of its read
// until its last subdirectory has been opened, unless the budget needs the
// room first: then the least recently used unpinned one goes, which in a
// walk that goes depth first is the shallowest, the one needed last.
//
// Getting a closed descriptor back costs about one openat per directory the
// walk climbs back through, cheapest way first:
// - When a directory is done with (its last subdirectory opened), the
//   nearest ancestor that still has subdirectories to open, if it lacks a
//   descriptor and nothing between keeps one, gets one through "../.."
//   from it: one openat however far up (Retire).
// - Else from a directory below it that keeps its descriptor, through
//   "../..": a read begun ahead on the way up pins one.
// - Else by name, component by component, from the nearest ancestor that
//   keeps one or from the start path.
// Whichever way, the directory reached is checked against the one first
// read there (Dir::id): a way up that meets another is dropped, and a
// reopen by name that meets another fails with ESTALE.
//
// Invariants, checked by Check(): `used_` = kept descriptors + reads begun
// and not ended (each holds room for its own) <= `budget_`, except while
// the walk alone runs on beyond a budget lowered under it; a directory is
// in the LRU list exactly when it keeps a descriptor it is not reading; one
// with pins is never closed. When the process runs out of descriptors the
// budget did not foresee (a limit lowered during the run), the budget
// drops to what is open, an unpinned kept one is closed and the open tried
// again; with none, the read waits for reads under way to end, and a read
// that is alone fails with EMFILE, as one thread would.
#pragma once

#include <cstddef>

#include "platform/dir_read.h"

namespace platform {

// The system calls of the cache, apart from it so that its tests can fake a
// file system.
class DescriptorSystem {
 public:
  virtual ~DescriptorSystem() = default;
  // Descriptors the process may hold besides those open now. Asked first,
  // while some are free: the undefined-behaviour sanitizer's check of a
  // virtual call needs two of its own the first time.
  virtual size_t Budget() = 0;
  // Opens directory `name` relative to `dir_fd`, through a final symbolic
  // link only when `follow`; -1 with errno.
  virtual int OpenAt(int dir_fd, const char* name, bool follow) = 0;
  // True when `fd` is the directory `id`.
  virtual bool Is(int fd, const FileId& id) = 0;
  virtual void Close(int fd) = 0;
};

class Descriptors {
 public:
  enum class Begin { kReady, kBusy, kFailed };

  explicit Descriptors(DescriptorSystem& system);

  // Reads the budget holds at once, at least 1.
  size_t ConcurrentReads() const;
  // Readies the read of `dir`: its parent's descriptor pinned in
  // Handle::at (found again if it went) and room for its own. kBusy: none
  // to be had until reads under way end (never when `alone`); kFailed: the
  // parent cannot be had, the error is in dir->listing.
  Begin BeginRead(Dir* dir, bool alone);
  // A piece of the read of `dir` came back (see platform::EndPiece).
  ReadEnd EndPiece(Dir* dir, bool alone);
  // The read of `dir` is given up, to be begun again: what it holds goes.
  void Unread(Dir* dir);
  // Nothing below `dir` will be read any more.
  void Forget(Dir* dir);

  size_t used() const { return used_; }
  size_t budget() const { return budget_; }

 private:
  bool Room(bool alone);
  ReadEnd OutOfDescriptors(Dir* dir, bool alone);
  void ChildOpened(Dir* dir);
  int Pin(Dir* dir, bool alone);
  int FromBelow(Dir* dir);
  int Checked(int fd, const Dir* dir);
  int ByName(Dir* dir);
  int OpenAt(int dir_fd, const char* name, bool follow);
  void Unpin(Dir* dir);
  void Retire(Dir* dir);
  Dir* NeedsHandUp(Dir* dir) const;
  Dir* OldestUnpinned() const;
  bool CloseOldest();
  void Close(Dir* dir);
  void Link(Dir* dir);
  void Unlink(Dir* dir);
  void Check() const;

  DescriptorSystem& system_;
  size_t budget_;
  size_t used_ = 0;        // kept descriptors and reads begun
  size_t kept_ = 0;        // of them, directories in the LRU list
  Dir* oldest_ = nullptr;  // least recently used first
  Dir* newest_ = nullptr;
};

}  // namespace platform
