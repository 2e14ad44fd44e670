// Where the printer and its readers meet, under the one lock of the
// read-ahead: requests go one way and completions the other, each a DirNode
// linked through `queued`, so that nothing here allocates. The pool's size
// is kept here too: readers measure it and the printer reads it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>

#include "walk/pool_size.h"

struct DirNode;

class ReadQueue {
 public:
  explicit ReadQueue(PoolSize pool) : pool_(std::move(pool)) {}

  // The pool as the readers left it: those counted and not ended, the size
  // wanted and the most, and whether reads were last found waiting rather
  // than working while a reader lived.
  struct Pool {
    size_t readers, wanted, most;
    bool reads_wait;
  };

  // The printer's side. Push is true when no reader waits for a request and
  // fewer than `readers` live.
  bool Push(DirNode* node, size_t readers);
  // Takes back `node` if no reader has taken it yet.
  bool Withdraw(DirNode* node);
  // The oldest request, for the printer to do itself; null if none.
  DirNode* TakeOne();
  // Every completion, oldest first, linked through `queued`; with `wait`,
  // waits for one while a reader holds a request.
  DirNode* Completions(bool wait);
  // Counts a reader about to start.
  void AddReader();
  Pool PoolNow();
  // Readers end once each has completed what it took; waits for that.
  void StopReaders();

  // A reader's side. Take waits for a request; null: the reader ends (the
  // stop, or the pool went back to a smaller size).
  DirNode* Take();
  // Hands `node` back, and with it, when `reads` is not 0, what they listed
  // in `wall` time, of which `cpu` working, for the pool's size. True while
  // the pool still wants such samples.
  bool Complete(DirNode* node, size_t reads, size_t entries, std::chrono::nanoseconds wall,
                std::chrono::nanoseconds cpu);
  // A reader ends of its own accord (memory ran out for it).
  void EndReader();

 private:
  struct List {
    DirNode* head = nullptr;
    DirNode* tail = nullptr;
    void Append(DirNode* node);
    DirNode* PopFront();
  };

  std::mutex mu_;
  std::condition_variable requested_;  // readers: a request, or the stop
  std::condition_variable completed_;  // the printer: a completion, or a reader ended
  List requests_, completions_;
  size_t idle_ = 0;  // readers waiting in Take
  size_t live_ = 0;  // readers counted and not ended
  bool stop_ = false;
  PoolSize pool_;
};
