#include "walk/read_queue.h"

#include <cassert>

#include "walk/read_ahead.h"

void ReadQueue::List::Append(DirNode* node) {
  assert(!node->queued && node != tail);
  (tail ? tail->queued : head) = node;
  tail = node;
}

DirNode* ReadQueue::List::PopFront() {
  DirNode* node = head;
  if (!node) return nullptr;
  head = node->queued;
  if (!head) tail = nullptr;
  node->queued = nullptr;
  return node;
}

bool ReadQueue::Push(DirNode* node, size_t readers) {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.Append(node);
  requested_.notify_one();
  return idle_ == 0 && live_ < readers;
}

bool ReadQueue::Withdraw(DirNode* node) {
  std::lock_guard<std::mutex> lock(mu_);
  DirNode* before = nullptr;
  for (DirNode* n = requests_.head; n; before = n, n = n->queued) {
    if (n != node) continue;
    (before ? before->queued : requests_.head) = n->queued;
    if (requests_.tail == n) requests_.tail = before;
    n->queued = nullptr;
    return true;
  }
  return false;
}

DirNode* ReadQueue::TakeOne() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_.PopFront();
}

DirNode* ReadQueue::Completions(bool wait) {
  std::unique_lock<std::mutex> lock(mu_);
  // Only readers complete; a wait with none left would never end. A reader
  // that runs out of memory completes before it ends; idle ones all end
  // only when the pool went back to the printer alone, waking the wait.
  assert(!wait || live_ > 0 || completions_.head || pool_.Wanted() == 1);
  if (wait) completed_.wait(lock, [this] { return completions_.head || live_ == 0; });
  DirNode* all = completions_.head;
  completions_ = List();
  return all;
}

void ReadQueue::AddReader() {
  std::lock_guard<std::mutex> lock(mu_);
  ++live_;
}

ReadQueue::Pool ReadQueue::PoolNow() {
  std::lock_guard<std::mutex> lock(mu_);
  return Pool{live_, pool_.Wanted(), pool_.Most(), pool_.Waiting() && live_ > 0};
}

void ReadQueue::StopReaders() {
  std::unique_lock<std::mutex> lock(mu_);
  stop_ = true;
  requested_.notify_all();
  completed_.wait(lock, [this] { return live_ == 0; });
  stop_ = false;
}

DirNode* ReadQueue::Take() {
  std::unique_lock<std::mutex> lock(mu_);
  ++idle_;
  // The pool may have gone back to a smaller size: then this reader ends,
  // and the request it was woken for goes to another.
  requested_.wait(lock, [this] { return stop_ || live_ >= pool_.Wanted() || requests_.head; });
  --idle_;
  if (stop_ || live_ >= pool_.Wanted()) {
    assert(live_ > 0);
    --live_;
    if (requests_.head) requested_.notify_one();
    completed_.notify_one();
    return nullptr;
  }
  return requests_.PopFront();
}

bool ReadQueue::Complete(DirNode* node, size_t reads, size_t entries, std::chrono::nanoseconds wall,
                         std::chrono::nanoseconds cpu) {
  std::lock_guard<std::mutex> lock(mu_);
  completions_.Append(node);
  if (reads) pool_.Sample(reads, entries, wall, cpu, std::chrono::steady_clock::now());
  completed_.notify_one();
  return !pool_.Settled();
}

void ReadQueue::EndReader() {
  std::lock_guard<std::mutex> lock(mu_);
  assert(live_ > 0);
  --live_;
  completed_.notify_one();
}

