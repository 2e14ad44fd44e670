#include "platform/descriptors-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
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

}  // namespace

Descriptors::Descriptors() : budget_(DescriptorBudget()) {}

Descriptors& descriptors() {
  static Descriptors d;
  return d;
}

void Descriptors::Reserve() {
  std::unique_lock<std::mutex> lock(mu_);
  while (budget_ - used_ < kSlotsPerRead) {
    if (Dir* idle = UnpinnedKept())
      Close(lock, idle);
    else
      released_.wait(lock);
  }
  used_ += kSlotsPerRead;
  ++reads_;
  assert(used_ <= budget_);
}

void Descriptors::Release(size_t slots) {
  std::lock_guard<std::mutex> lock(mu_);
  assert(reads_ > 0 && used_ >= slots);
  used_ -= slots;
  --reads_;
  released_.notify_all();
}

// The process ran out of descriptors (others than the budget foresaw are
// open): closes a kept one that no read is using, or waits for another read
// to give one back. False when neither can be.
bool Descriptors::MakeRoom() {
  std::unique_lock<std::mutex> lock(mu_);
  if (Dir* idle = UnpinnedKept()) {
    Close(lock, idle);
    return true;
  }
  if (reads_ - stalled_ <= 1) return false;
  ++stalled_;
  released_.wait(lock);
  --stalled_;
  return true;
}

void Descriptors::Keep(Dir* dir, int fd, size_t subdirs) {
  std::lock_guard<std::mutex> lock(mu_);
  assert(dir->handle.fd < 0 && subdirs > 0);
  dir->handle.fd = fd;
  dir->handle.unopened = subdirs;
  AddToCache(dir);
}

int Descriptors::Pin(Dir* dir, size_t* slots) {
  std::vector<Dir*> down;  // from `dir` up to the ancestor with a descriptor
  Dir* from = nullptr;
  int from_fd = AT_FDCWD;  // the start directory's path is relative to it
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (Dir* d = dir; d && !from; d = d->parent) {
      if (d->handle.fd >= 0)
        from = d;
      else
        down.push_back(d);
    }
    if (from) {
      ++from->handle.pins;
      from_fd = from->handle.fd;
    }
    if (down.empty()) return from_fd;
  }
  int fd = from_fd;
  for (auto d = down.rbegin(); d != down.rend(); ++d) {
    int next = OpenDirectoryAt(fd, (*d)->name, (*d)->parent ? O_NOFOLLOW : 0);
    int error = errno;
    if (fd != from_fd)
      close(fd);
    else if (from)
      Unpin(from);
    errno = error;
    if (next < 0) return -1;
    fd = next;
  }
  int spare = -1;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (dir->handle.fd >= 0) {
      spare = fd;  // another read reopened it meanwhile
    } else {
      dir->handle.fd = fd;
      AddToCache(dir);
      --*slots;
    }
    ++dir->handle.pins;
    fd = dir->handle.fd;
  }
  if (spare >= 0) close(spare);
  return fd;
}

void Descriptors::ChildOpened(Dir* dir, bool pinned) {
  std::unique_lock<std::mutex> lock(mu_);
  assert(dir->handle.unopened > 0 && (!pinned || dir->handle.pins > 0));
  if (pinned) --dir->handle.pins;
  --dir->handle.unopened;
  if (dir->handle.unopened == 0 && dir->handle.pins == 0) Close(lock, dir);
}

void Descriptors::ChildReturned(Dir* dir) {
  std::lock_guard<std::mutex> lock(mu_);
  ++dir->handle.unopened;
}

void Descriptors::Forget(Dir* dir) {
  std::unique_lock<std::mutex> lock(mu_);
  assert(dir->handle.pins == 0);
  Close(lock, dir);
}

int Descriptors::OpenDirectoryAt(int dir_fd, const char* name, int flags) {
  for (;;) {
    int fd = openat(dir_fd, name, flags | O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE)) return fd;
    int error = errno;
    if (!MakeRoom()) {
      errno = error;
      return -1;
    }
  }
}

void Descriptors::Unpin(Dir* dir) {
  std::unique_lock<std::mutex> lock(mu_);
  assert(dir->handle.pins > 0);
  --dir->handle.pins;
  if (dir->handle.unopened == 0 && dir->handle.pins == 0) Close(lock, dir);
}

Dir* Descriptors::UnpinnedKept() const {
  for (Dir* dir : cache_)
    if (dir->handle.pins == 0) return dir;
  return nullptr;
}

// A system call is slow beside everything else done under the lock, so the
// descriptor is closed without it; its slot stays taken until it is closed.
void Descriptors::Close(std::unique_lock<std::mutex>& lock, Dir* dir) {
  int fd = dir->handle.fd;
  if (fd < 0) return;
  dir->handle.fd = -1;
  Dir* last = cache_.back();
  cache_[dir->handle.cache_index] = last;
  last->handle.cache_index = dir->handle.cache_index;
  cache_.pop_back();
  lock.unlock();
  close(fd);
  lock.lock();
  assert(used_ > 0);
  --used_;
  released_.notify_all();
}

void Descriptors::AddToCache(Dir* dir) {
  dir->handle.cache_index = cache_.size();
  cache_.push_back(dir);
}

}  // namespace platform
