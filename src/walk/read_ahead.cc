#include "walk/read_ahead.h"

#include <algorithm>
#include <new>
#include <string>
#include <system_error>

// Enough readers for the cores of a machine with the tree in its cache, and
// for waiting on a network file system's latency many at a time.
size_t ReadingThreads() {
  std::string value;
  if (platform::GetEnv("SPACE_THREADS", &value) && !value.empty() && value.size() <= 3 &&
      value.find_first_not_of("0123456789") == std::string::npos) {
    size_t n = std::stoul(value);
    if (n >= 1 && n <= kMaxThreads) return n;
  }
  return std::max<size_t>(16, std::thread::hardware_concurrency());
}

// Readers start as work for them appears, so that a small tree is done
// before most of them would have started.
ReadAhead::ReadAhead(size_t threads) : max_readers_(threads - 1) { readers_.reserve(max_readers_); }

// Where the system grants fewer threads, the walk goes on with those it got:
// with none, it reads every directory itself. Never after the stop, when
// the readers are being joined.
void ReadAhead::StartReaders(size_t wanted) {
  for (; wanted > 0 && readers_.size() < max_readers_ && !stop_; --wanted) {
    try {
      readers_.emplace_back(&ReadAhead::Reader, this);
    } catch (const std::system_error&) {
      max_readers_ = readers_.size();
    }
  }
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& reader : readers_) reader.join();
}

void ReadAhead::Reader() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    ++idle_;
    work_.wait(lock, [this] { return stop_ || (!pending_.empty() && ahead_bytes_ < kReadAheadBytes); });
    --idle_;
    if (stop_) return;
    DirNode* node = pending_.back();
    pending_.pop_back();
    node->state = DirNode::State::kReading;
    lock.unlock();
    Read(node);
    lock.lock();
    Publish(node);
  }
}

void ReadAhead::Await(DirNode* node) {
  std::unique_lock<std::mutex> lock(mu_);
  if (node->state == DirNode::State::kUnread) {
    // The start directory was never pending; any other unread one is, most
    // likely near the top.
    auto pending = std::find(pending_.rbegin(), pending_.rend(), node);
    if (pending != pending_.rend()) pending_.erase(pending.base() - 1);
    node->state = DirNode::State::kReading;
    lock.unlock();
    Read(node);
    lock.lock();
    Publish(node);
  } else {
    read_.wait(lock, [node] { return node->state == DirNode::State::kRead; });
  }
  if (node->out_of_memory) throw std::bad_alloc();
}

void ReadAhead::Done(DirNode* node) {
  size_t cost = node->cost;
  node->dir.listing = platform::Listing();
  node->children.reset();
  std::lock_guard<std::mutex> lock(mu_);
  bool was_full = ahead_bytes_ >= kReadAheadBytes;
  ahead_bytes_ -= cost;
  if (was_full && ahead_bytes_ < kReadAheadBytes) work_.notify_all();
}

// Runs without the lock: nobody else touches a directory being read.
void ReadAhead::Read(DirNode* node) {
  try {
    platform::ReadDirectory(&node->dir);
    const platform::Listing& listing = node->dir.listing;
    for (const platform::Entry& entry : listing.entries) node->subdirs += (entry.attrib & platform::kDirectory) != 0;
    if (node->subdirs) node->children.reset(new DirNode[node->subdirs]);
    DirNode* child = node->children.get();
    for (const platform::Entry& entry : listing.entries) {
      if (!(entry.attrib & platform::kDirectory)) continue;
      child->dir.parent = &node->dir;
      child->dir.name = listing.NativeNameOf(entry);
      ++child;
    }
    node->cost = listing.Bytes() + node->subdirs * sizeof(DirNode);
  } catch (const std::bad_alloc&) {
    node->out_of_memory = true;
  }
}

// The children go on top of the pending directories, the first on top: the
// walk needs them before anything that was pending already.
void ReadAhead::Publish(DirNode* node) {
  if (max_readers_ > 0 && !node->out_of_memory) {
    try {
      for (size_t i = node->subdirs; i-- > 0;) pending_.push_back(&node->children[i]);
      size_t woken = std::min(node->subdirs, idle_);
      for (size_t i = woken; i > 0; --i) work_.notify_one();
      StartReaders(node->subdirs - woken);
    } catch (const std::bad_alloc&) {
      node->out_of_memory = true;
    }
  }
  node->state = DirNode::State::kRead;
  ahead_bytes_ += node->cost;
  read_.notify_one();
}
