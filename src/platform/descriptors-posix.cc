#include "platform/descriptors-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include <algorithm>
#include <cassert>

namespace platform {

namespace {

// Within what a path may hold: a hand-up farther than this is not tried.
constexpr size_t kMaxLevelsUp = 1024;

// "../" `levels` times, without allocating: a hand-up happens where memory
// may have run out.
const char* Up(size_t levels) {
  struct Ups {
    char text[3 * kMaxLevelsUp + 1];
    Ups() {
      for (size_t i = 0; i < kMaxLevelsUp; ++i) memcpy(text + 3 * i, "../", 3);
      text[3 * kMaxLevelsUp] = '\0';
    }
  };
  static const Ups ups;
  assert(levels >= 1 && levels <= kMaxLevelsUp);
  return ups.text + 3 * (kMaxLevelsUp - levels);
}

// Nothing below it needs its descriptor: a search for an ancestor that does
// goes on above it.
bool Transparent(const Dir* dir) { return dir->handle.fd < 0 && dir->handle.unopened == 0; }

// Levels of a path opened at once when a directory is found again by name:
// the path is found from the directory up, so a chunk costs a walk up.
constexpr size_t kChunk = 64;

bool NoneLeft(int error) { return error == EMFILE || error == ENFILE; }

// Directories more than one level below one to be found again that are
// looked at for a way up: each costs a walk up the tree.
constexpr size_t kMostTried = 8;

template <typename D>
D* Above(D* dir, size_t levels) {
  for (; levels > 0; --levels) dir = dir->parent;
  return dir;
}

}  // namespace

Descriptors::Descriptors(DescriptorSystem& system) : system_(system), budget_(system.Budget()) {}

size_t Descriptors::ConcurrentReads() const { return std::max<size_t>(budget_ / 3, 1); }

// Room for one descriptor more, closing the least recently used unpinned
// ones for it. Alone, the walk takes it beyond a budget nothing gives back to.
bool Descriptors::Room(bool alone) {
  while (used_ >= budget_)
    if (!CloseOldest()) {
      if (!alone) return false;
      budget_ = used_ + 1;
    }
  return true;
}

Descriptors::Begin Descriptors::BeginRead(Dir* dir, bool alone) {
  Dir::Handle& h = dir->handle;
  assert(!h.begun && h.fd < 0 && !h.opened);
  h.at = AT_FDCWD;  // the start directory's path is relative to it
  if (dir->parent) {
    h.at = Pin(dir->parent, alone);
    if (h.at < 0) {
      if (NoneLeft(errno) && !alone) return Begin::kBusy;
      dir->listing.error = errno;
      h.begun = h.failed = true;
      ChildOpened(dir);
      return Begin::kFailed;
    }
  }
  if (!Room(alone)) {
    if (dir->parent) Unpin(dir->parent);
    return Begin::kBusy;
  }
  ++used_;
  h.begun = true;
  h.pinning = dir->parent != nullptr;
  Check();
  return Begin::kReady;
}

ReadEnd Descriptors::EndPiece(Dir* dir, bool alone) {
  Dir::Handle& h = dir->handle;
  assert(h.begun);
  if (h.failed) {
    h.begun = h.failed = false;
    return ReadEnd::kEnded;
  }
  if (h.out_of_descriptors) return OutOfDescriptors(dir, alone);
  if (h.pinning) {
    h.pinning = false;
    ChildOpened(dir);
    Unpin(dir->parent);
  }
  if (h.reading) return ReadEnd::kMore;
  h.begun = false;
  assert(h.fd < 0 || dir->listing.subdirs > 0);
  if (dir->listing.subdirs > 0) {
    h.unopened = static_cast<uint32_t>(dir->listing.subdirs);
    h.depth = dir->parent ? dir->parent->handle.depth + 1 : 0;
  }
  if (h.fd >= 0)
    Link(dir);  // the room of the read goes to the descriptor kept
  else
    --used_;
  Check();
  return ReadEnd::kEnded;
}

// What is open now is all the process may hold: the budget drops to it.
ReadEnd Descriptors::OutOfDescriptors(Dir* dir, bool alone) {
  Dir::Handle& h = dir->handle;
  h.out_of_descriptors = h.begun = false;
  --used_;
  budget_ = std::max<size_t>(std::min(budget_, used_), 1);
  bool again = CloseOldest() || !alone;
  if (!again) {
    dir->listing.error = EMFILE;
    if (dir->parent) ChildOpened(dir);
  }
  if (h.pinning) Unpin(dir->parent);
  h.pinning = false;
  Check();
  return again ? ReadEnd::kRetry : ReadEnd::kEnded;
}

void Descriptors::Unread(Dir* dir) {
  Dir::Handle& h = dir->handle;
  if (h.begun && !h.failed) {
    assert(used_ > 0);
    if (h.fd >= 0) system_.Close(h.fd);
    h.fd = -1;
    --used_;
    if (h.pinning) Unpin(dir->parent);
  }
  h.begun = h.failed = h.pinning = h.reading = h.out_of_descriptors = false;
  Forget(dir);
  h.unopened = 0;
  if (h.opened) {
    h.opened = false;
    ++dir->parent->handle.unopened;
  }
  Check();
}

void Descriptors::Forget(Dir* dir) {
  assert(dir->handle.pins == 0 && !dir->handle.begun);
  if (dir->handle.fd >= 0) Close(dir);
}

// `dir` is opened, or failed to open: its parent may be done with.
void Descriptors::ChildOpened(Dir* dir) {
  Dir* parent = dir->parent;
  assert(!dir->handle.opened && parent->handle.unopened > 0);
  dir->handle.opened = true;
  if (--parent->handle.unopened == 0 && parent->handle.pins == 0) Retire(parent);
}

// The descriptor of `dir`, pinned; -1 with errno when it cannot be had back
// (ESTALE: `dir` or an ancestor is another directory now).
int Descriptors::Pin(Dir* dir, bool alone) {
  Dir::Handle& h = dir->handle;
  if (h.fd < 0) {
    if (!Room(alone)) {
      errno = EMFILE;
      return -1;
    }
    int fd = FromBelow(dir);
    if (fd < 0) fd = ByName(dir);
    if (fd < 0) return -1;
    h.fd = fd;
    ++used_;
  } else {
    Unlink(dir);
  }
  Link(dir);  // the most recently used
  ++h.pins;
  Check();
  return h.fd;
}

// Through "../" from a directory below `dir` that keeps its descriptor,
// the most recently used of those within kMaxLevelsUp levels; -1 when none
// does or the way up meets another directory. Reads begun ahead on the way
// back up pin such a one a few levels below the next they need, so that it
// costs one open, not a walk down from the start.
int Descriptors::FromBelow(Dir* dir) {
  size_t tried = 0;  // of those more than one level below
  for (Dir* below = newest_; below; below = below->handle.older) {
    if (below->handle.depth <= dir->handle.depth) continue;
    size_t levels = below->handle.depth - dir->handle.depth;
    if (levels > kMaxLevelsUp || (levels > 1 && tried++ >= kMostTried)) continue;
    if (Above(below, levels) != dir) continue;
    // Pinned, so that running out of descriptors does not close it under the open.
    ++below->handle.pins;
    int fd = Checked(OpenAt(below->handle.fd, Up(levels), false), dir);
    --below->handle.pins;
    return fd;
  }
  return -1;
}

// Component by component from the nearest ancestor that keeps a descriptor,
// or from the start path, each directory checked to be the one read there.
int Descriptors::ByName(Dir* dir) {
  size_t levels = 1;  // to open, `dir` included
  Dir* from = dir->parent;
  for (; from && from->handle.fd < 0; from = from->parent) ++levels;
  if (from) ++from->handle.pins;
  int fd = from ? from->handle.fd : AT_FDCWD;
  bool own = false;  // until the first step, `fd` is `from`'s
  for (size_t left = levels; left > 0 && fd != -1; left -= std::min(left, kChunk)) {
    Dir* chunk[kChunk];
    size_t n = std::min(left, kChunk);
    Dir* d = Above(dir, left - n);
    for (size_t i = n; i-- > 0; d = d->parent) chunk[i] = d;
    for (size_t i = 0; i < n && fd != -1; ++i) {
      int next = Checked(OpenAt(fd, chunk[i]->name, chunk[i]->parent == nullptr), chunk[i]);
      int error = errno;
      if (own)
        system_.Close(fd);
      else if (from)
        Unpin(from);  // its descriptor may go from now on
      errno = error;
      fd = next;
      own = true;
    }
  }
  return fd;
}

// The open of a way back, which closes kept descriptors while the process
// has none left and one can be closed.
int Descriptors::OpenAt(int dir_fd, const char* name, bool follow) {
  for (;;) {
    int fd = system_.OpenAt(dir_fd, name, follow);
    if (fd >= 0 || !NoneLeft(errno)) return fd;
    budget_ = std::max<size_t>(std::min(budget_, used_), 1);
    if (!CloseOldest()) {
      errno = EMFILE;
      return -1;
    }
  }
}

void Descriptors::Unpin(Dir* dir) {
  assert(dir->handle.pins > 0);
  if (--dir->handle.pins == 0 && dir->handle.unopened == 0) Retire(dir);
}

// All of `dir`'s subdirectories are opened and no read uses its descriptor:
// it goes, to the ancestor that needs one next where that lacks it, so
// that climbing back out of a deep branch costs one openat per level.
void Descriptors::Retire(Dir* dir) {
  assert(dir->handle.pins == 0 && dir->handle.unopened == 0);
  if (dir->handle.fd < 0) return;
  Dir* to = NeedsHandUp(dir);
  size_t levels = to ? dir->handle.depth - to->handle.depth : 0;
  if (!to || levels > kMaxLevelsUp) return Close(dir);
  int fd = Checked(system_.OpenAt(dir->handle.fd, Up(levels), false), to);
  if (fd < 0) return Close(dir);
  // The room of `dir`'s descriptor passes to the one opened up.
  system_.Close(dir->handle.fd);
  Unlink(dir);
  dir->handle.fd = -1;
  to->handle.fd = fd;
  Link(to);
  Check();
}

// `fd` when it opens `dir`, the directory read there; else it is closed:
// -1, with ESTALE when it opened another.
int Descriptors::Checked(int fd, const Dir* dir) {
  if (fd < 0 || system_.Is(fd, dir->id)) return fd;
  system_.Close(fd);
  errno = ESTALE;
  return -1;
}

// The nearest ancestor of `dir` that has subdirectories left to open, when
// neither it nor anything between has a descriptor. Runs of ancestors with
// nothing left to open are stepped over as a whole the next time, so that
// a deep chain costs no walk up per directory.
Dir* Descriptors::NeedsHandUp(Dir* dir) const {
  Dir* top = nullptr;  // the highest stepped over
  Dir* above = dir->parent;
  for (; above && Transparent(above); above = above->handle.skip ? above->handle.skip : above->parent) top = above;
  dir->handle.skip = above ? above : top;
  if (!above || above->handle.fd >= 0) return nullptr;
  return above;
}

Dir* Descriptors::OldestUnpinned() const {
  Dir* dir = oldest_;
  while (dir && dir->handle.pins > 0) dir = dir->handle.newer;
  return dir;
}

bool Descriptors::CloseOldest() {
  Dir* idle = OldestUnpinned();
  if (idle) Close(idle);
  return idle != nullptr;
}

void Descriptors::Close(Dir* dir) {
  assert(dir->handle.pins == 0 && dir->handle.fd >= 0 && used_ > 0);
  system_.Close(dir->handle.fd);
  dir->handle.fd = -1;
  Unlink(dir);
  --used_;
}

void Descriptors::Link(Dir* dir) {
  dir->handle.older = newest_;
  dir->handle.newer = nullptr;
  (newest_ ? newest_->handle.newer : oldest_) = dir;
  newest_ = dir;
  ++kept_;
}

void Descriptors::Unlink(Dir* dir) {
  Dir* older = dir->handle.older;
  Dir* newer = dir->handle.newer;
  (older ? older->handle.newer : oldest_) = newer;
  (newer ? newer->handle.older : newest_) = older;
  dir->handle.older = dir->handle.newer = nullptr;
  assert(kept_ > 0);
  --kept_;
}

// The invariants of the note that a walk of the cache can check.
void Descriptors::Check() const {
#ifndef NDEBUG
  assert(used_ <= budget_ && kept_ <= used_);
  size_t listed = 0;
  for (const Dir* dir = oldest_; dir; dir = dir->handle.newer) {
    assert(dir->handle.fd >= 0 && !dir->handle.begun);
    assert((dir->handle.newer ? dir->handle.newer->handle.older : newest_) == dir);
    ++listed;
  }
  assert(listed == kept_);
#endif
}

}  // namespace platform
