#include "platform/descriptors-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>

namespace platform {

namespace {

// What RLIMIT_NOFILE leaves beside the descriptors already open, less the
// spares; never less than one read and one kept descriptor.
size_t DescriptorBudget() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur > kMaxDescriptors + 1024)
    return kMaxDescriptors;
  size_t room = static_cast<size_t>(limit.rlim_cur);
  for (int fd = 0; static_cast<size_t>(fd) < limit.rlim_cur; ++fd)
    if (fcntl(fd, F_GETFD) != -1) --room;
  room = room > kSpareDescriptors ? room - kSpareDescriptors : 0;
  return std::max(room, kSlotsPerRead + 1);
}

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

bool IsDirectory(int fd, const FileId& id) {
  struct stat st;
  return fstat(fd, &st) == 0 && FileId{st.st_dev, st.st_ino} == id;
}

// Nothing below it needs its descriptor: a search for an ancestor that does
// goes on above it.
bool Transparent(const Dir* dir) {
  return dir->handle.fd < 0 && !dir->handle.arriving && dir->handle.unopened == 0;
}

// What ByName answers when another read got the descriptor first.
constexpr int kOvertaken = -2;

// Levels of a path looked up at once when a directory is found again by name:
// the path is found from the directory up, so a chunk costs a walk up.
constexpr size_t kChunk = 64;

}  // namespace

Descriptors::Descriptors() : budget_(DescriptorBudget()) {}

Descriptors& descriptors() {
  static Descriptors d;
  return d;
}

size_t Descriptors::ConcurrentReads() {
  std::lock_guard<std::mutex> lock(mu_);
  return std::max<size_t>(budget_ / kSlotsPerRead, 1);
}

void Descriptors::Reserve() {
  std::unique_lock<std::mutex> lock(mu_);
  WaitForSlots(lock);
}

void Descriptors::WaitForSlots(std::unique_lock<std::mutex>& lock) {
  while (used_ + kSlotsPerRead > budget_) {
    if (Dir* idle = OldestUnpinned()) {
      Close(lock, idle);
    } else if (reads_ == paused_ && closing_ == 0) {
      budget_ = used_ + kSlotsPerRead;  // nothing will come back: see the design note
    } else {
      released_.wait(lock);
    }
  }
  used_ += kSlotsPerRead;
  ++reads_;
  Check();
}

void Descriptors::Release(size_t slots) {
  std::lock_guard<std::mutex> lock(mu_);
  assert(reads_ > 0 && used_ >= slots);
  used_ -= slots;
  --reads_;
  Check();
  released_.notify_all();
}

// The process ran out of descriptors: closes a kept one that no read is
// using. False when every one is pinned or none is kept.
bool Descriptors::MakeRoom() {
  std::unique_lock<std::mutex> lock(mu_);
  Dir* idle = OldestUnpinned();
  if (idle) Close(lock, idle);
  return idle != nullptr;
}

bool Descriptors::StepBack(Dir* child, bool pinned, size_t* slots) {
  std::unique_lock<std::mutex> lock(mu_);
  // Alone, or beside reads that wait for the walk, with no descriptor about
  // to be closed: nothing will come free.
  if (reads_ - paused_ <= 1 && closing_ == 0) return false;
  if (pinned) Unpin(lock, child->parent, -1);
  assert(reads_ > 0 && used_ >= *slots);
  // What the process holds is all it may: the reads that run now, less this
  // one, fill the budget from here on.
  budget_ = std::max(std::min(budget_, used_ - *slots), kSlotsPerRead + 1);
  used_ -= *slots;
  --reads_;
  released_.notify_all();
  released_.wait(lock, [this] { return closing_ == 0; });
  WaitForSlots(lock);
  *slots = kSlotsPerRead;
  return true;
}

void Descriptors::Pause() {
  std::lock_guard<std::mutex> lock(mu_);
  ++paused_;
  assert(paused_ <= reads_);
  released_.notify_all();
}

void Descriptors::Resume() {
  std::lock_guard<std::mutex> lock(mu_);
  assert(paused_ > 0);
  --paused_;
}

void Descriptors::Keep(Dir* dir, int fd, size_t subdirs) {
  std::lock_guard<std::mutex> lock(mu_);
  assert(dir->handle.fd < 0 && subdirs > 0 && subdirs <= UINT32_MAX);
  dir->handle.unopened = static_cast<uint32_t>(subdirs);
  dir->handle.depth = dir->parent ? dir->parent->handle.depth + 1 : 0;
  if (fd >= 0) {
    dir->handle.fd = fd;
    Link(dir);
  }
  Check();
}

int Descriptors::Pin(Dir* dir, size_t* slots) {
  std::unique_lock<std::mutex> lock(mu_);
  assert(dir->handle.unopened > 0);
  for (;;) {
    released_.wait(lock, [dir] { return !dir->handle.arriving; });
    if (dir->handle.fd >= 0) {
      ++dir->handle.pins;
      Unlink(dir);
      Link(dir);  // the most recently used
      return dir->handle.fd;
    }
    int fd = FromSubdirectory(lock, dir, slots);
    if (fd < 0) fd = ByName(lock, dir, slots);
    if (fd != kOvertaken) return fd;
  }
}

// Through ".." from a subdirectory that keeps its descriptor; -1 when none
// does or the way up meets another directory.
int Descriptors::FromSubdirectory(std::unique_lock<std::mutex>& lock, Dir* dir, size_t* slots) {
  Dir* child = newest_;
  // One whose subdirectories are not all opened: the walk cannot be done
  // with it while this read holds it.
  while (child && (child->parent != dir || child->handle.unopened == 0)) child = child->handle.older;
  if (!child) return -1;
  ++child->handle.pins;
  int child_fd = child->handle.fd;
  lock.unlock();
  int fd = OpenDirectoryAt(child_fd, "..", 0);
  if (fd >= 0 && !IsDirectory(fd, dir->id)) {
    close(fd);
    fd = -1;
  }
  lock.lock();
  if (fd >= 0) fd = Install(lock, dir, fd, slots);
  Unpin(lock, child, -1);
  return fd;
}

// Component by component from the nearest ancestor that keeps a descriptor,
// or from the start path, each directory checked to be the one read there.
// kOvertaken when `dir` got a descriptor, or began to, on the way: reads that
// climb back out of a branch side by side each wait for the one below to
// hand theirs up rather than all walk down from far above.
int Descriptors::ByName(std::unique_lock<std::mutex>& lock, Dir* dir, size_t* slots) {
  size_t levels = 1;  // to open, `dir` included
  Dir* from = dir->parent;
  for (; from && from->handle.fd < 0; from = from->parent) ++levels;
  int fd = AT_FDCWD;  // the start directory's path is relative to it
  if (from) {
    ++from->handle.pins;
    fd = from->handle.fd;
  }
  lock.unlock();
  // Until the first step, `fd` is `from`'s, pinned; from then on this read's.
  bool own = false;
  int error = 0;
  for (size_t left = levels; left > 0 && !error; left -= std::min(left, kChunk)) {
    Dir* chunk[kChunk];
    size_t n = std::min(left, kChunk);
    Dir* d = dir;
    for (size_t skip = left - n; skip > 0; --skip) d = d->parent;
    for (size_t i = n; i-- > 0; d = d->parent) chunk[i] = d;
    for (size_t i = 0; i < n && !error; ++i) {
      int next = OpenDirectoryAt(fd, chunk[i]->name, chunk[i]->parent ? O_NOFOLLOW : 0);
      if (next >= 0 && !IsDirectory(next, chunk[i]->id)) {
        close(next);
        next = -1;
        errno = ESTALE;
      }
      if (next < 0) error = errno;
      lock.lock();
      if (!own && from) Unpin(lock, from, next);
      bool overtaken = next >= 0 && (dir->handle.fd >= 0 || dir->handle.arriving);
      lock.unlock();
      if (own) close(fd);
      fd = next;
      own = true;
      if (overtaken) {
        close(fd);
        lock.lock();
        return kOvertaken;
      }
    }
  }
  lock.lock();
  if (error) {
    errno = error;
    return -1;
  }
  return Install(lock, dir, fd, slots);
}

// `dir` keeps `fd`, which this read opened, and is pinned; where another
// read was first, its descriptor is pinned instead.
int Descriptors::Install(std::unique_lock<std::mutex>& lock, Dir* dir, int fd, size_t* slots) {
  ++dir->handle.pins;
  if (dir->handle.fd >= 0) {
    int pinned = dir->handle.fd;
    lock.unlock();
    close(fd);
    lock.lock();
    return pinned;
  }
  assert(*slots > 0);
  --*slots;
  dir->handle.fd = fd;
  Link(dir);
  Check();
  return fd;
}

void Descriptors::ChildOpened(Dir* child, bool pinned, int child_fd) {
  std::unique_lock<std::mutex> lock(mu_);
  Dir* dir = child->parent;
  assert(!child->handle.opened && dir->handle.unopened > 0 && (!pinned || dir->handle.pins > 0));
  child->handle.opened = true;
  --dir->handle.unopened;
  if (pinned)
    Unpin(lock, dir, child_fd);
  else if (dir->handle.pins == 0 && dir->handle.unopened == 0)
    Retire(lock, dir, child_fd);
}

void Descriptors::ChildReturned(Dir* child) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!child->handle.opened) return;
  child->handle.opened = false;
  ++child->parent->handle.unopened;
}

void Descriptors::Forget(Dir* dir) {
  std::unique_lock<std::mutex> lock(mu_);
  assert(dir->handle.pins == 0 && !dir->handle.arriving);
  Close(lock, dir);
}

// `open` again after closing a kept descriptor, as long as it runs out of
// descriptors and one can be closed.
template <typename Open>
int Descriptors::WithRoom(Open open) {
  for (;;) {
    int fd = open();
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE)) return fd;
    int error = errno;
    if (!MakeRoom()) {
      errno = error;
      return -1;
    }
  }
}

int Descriptors::OpenDirectoryAt(int dir_fd, const char* name, int flags) {
  return WithRoom([&] { return openat(dir_fd, name, flags | O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
}

int Descriptors::Duplicate(int fd) {
  return WithRoom([fd] { return fcntl(fd, F_DUPFD_CLOEXEC, 0); });
}

// `child_fd`, when not -1, is a subdirectory of `dir` that this read holds.
void Descriptors::Unpin(std::unique_lock<std::mutex>& lock, Dir* dir, int child_fd) {
  assert(dir->handle.pins > 0);
  if (--dir->handle.pins > 0) return;
  released_.notify_all();  // a kept descriptor that may be closed
  if (dir->handle.unopened == 0) Retire(lock, dir, child_fd);
}

// All of `dir`'s subdirectories are opened and no read uses its descriptor:
// it goes, to the ancestor that needs one next where that lacks it. The way
// up starts from `child_fd` (a subdirectory of `dir`) when there is one, so
// that the process never holds more descriptors than before.
void Descriptors::Retire(std::unique_lock<std::mutex>& lock, Dir* dir, int child_fd) {
  assert(dir->handle.pins == 0 && dir->handle.unopened == 0);
  if (dir->handle.fd < 0) return;
  Dir* to = NeedsHandUp(dir);
  size_t levels = to ? dir->handle.depth - to->handle.depth + (child_fd >= 0) : 0;
  if (!to || levels > kMaxLevelsUp) return Close(lock, dir);
  int own = dir->handle.fd;
  dir->handle.fd = -1;
  Unlink(dir);
  to->handle.arriving = true;
  lock.unlock();
  // The slot of `own` carries the descriptor opened up.
  int base = child_fd >= 0 ? child_fd : own;
  if (base != own) close(own);
  int fd = openat(base, Up(levels), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (base == own) close(own);
  if (fd >= 0 && !IsDirectory(fd, to->id)) {
    close(fd);
    fd = -1;
  }
  lock.lock();
  to->handle.arriving = false;
  released_.notify_all();
  // A read that found `to` by name meanwhile was first.
  if (fd >= 0 && to->handle.fd < 0) {
    to->handle.fd = fd;
    Link(to);
    return Check();
  }
  if (fd >= 0) {
    lock.unlock();
    close(fd);
    lock.lock();
  }
  assert(used_ > 0);
  --used_;
  Check();
}

// The nearest ancestor of `dir` that has subdirectories left to open, when
// neither it nor anything between has or is getting a descriptor. Runs of
// ancestors with nothing left to open are stepped over as a whole the next
// time, so that a deep chain costs no walk up per directory.
Dir* Descriptors::NeedsHandUp(Dir* dir) const {
  Dir* top = nullptr;  // the highest stepped over
  Dir* above = dir->parent;
  for (; above && Transparent(above); above = above->handle.skip ? above->handle.skip : above->parent) top = above;
  dir->handle.skip = above ? above : top;
  if (!above || above->handle.fd >= 0 || above->handle.arriving) return nullptr;
  return above;
}

Dir* Descriptors::OldestUnpinned() const {
  Dir* dir = oldest_;
  while (dir && dir->handle.pins > 0) dir = dir->handle.newer;
  return dir;
}

// A system call is slow beside everything else done under the lock, so the
// descriptor is closed without it; its slot stays taken until it is closed.
void Descriptors::Close(std::unique_lock<std::mutex>& lock, Dir* dir) {
  int fd = dir->handle.fd;
  if (fd < 0) return;
  assert(dir->handle.pins == 0);
  dir->handle.fd = -1;
  Unlink(dir);
  ++closing_;
  lock.unlock();
  close(fd);
  lock.lock();
  assert(used_ > 0 && closing_ > 0);
  --closing_;
  --used_;
  released_.notify_all();
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

// The invariants of the design note that a walk of the cache can check.
void Descriptors::Check() const {
#ifndef NDEBUG
  assert(used_ <= budget_ && kept_ + closing_ <= used_);
  size_t listed = 0;
  for (const Dir* dir = oldest_; dir; dir = dir->handle.newer) {
    assert(dir->handle.fd >= 0);
    assert((dir->handle.newer ? dir->handle.newer->handle.older : newest_) == dir);
    ++listed;
  }
  assert(listed == kept_);
#endif
}

}  // namespace platform
