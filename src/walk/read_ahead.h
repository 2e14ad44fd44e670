// Directories read ahead of the walk that prints them. The walk asks for
// the listings in the order it prints them; a pool of readers reads the ones
// it will ask for next, nearest first, within a budget of memory, so that
// waiting on the file system overlaps with everything else.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"

// A directory of the tree, from its discovery until the walk is done with it.
struct DirNode {
  enum class State : unsigned char { kUnread, kReading, kRead };

  DirNode() = default;
  DirNode(const DirNode&) = delete;
  DirNode& operator=(const DirNode&) = delete;
  ~DirNode() { platform::ForgetDirectory(&dir); }

  platform::Dir dir;
  std::unique_ptr<DirNode[]> children;  // one per subdirectory, in listing order
  size_t subdirs = 0;
  size_t cost = 0;                      // bytes it counts against the budget
  State state = State::kUnread;
  bool out_of_memory = false;
};

// Listings read but not yet done with, beyond which readers wait.
#ifndef SPACE_READ_AHEAD_BYTES
#define SPACE_READ_AHEAD_BYTES (4 << 20)
#endif
constexpr size_t kReadAheadBytes = SPACE_READ_AHEAD_BYTES;

// Threads that read directories, the walk's own included: SPACE_THREADS when
// it holds a number from 1 to kMaxThreads, else a default.
size_t ReadingThreads();
constexpr size_t kMaxThreads = 256;

class ReadAhead {
 public:
  // Reads with up to `threads` - 1 readers beside the calling thread.
  explicit ReadAhead(size_t threads);
  // Stops the readers after the directory each is reading.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Makes `node`'s listing and children ready, reading it here when no reader
  // has started on it. Throws std::bad_alloc when memory ran out reading it.
  void Await(DirNode* node);
  // The walk is done with `node`: its listing and children are let go.
  void Done(DirNode* node);

 private:
  void Reader();
  void StartReaders(size_t wanted);
  void Read(DirNode* node);
  void Publish(DirNode* node);

  std::mutex mu_;
  std::condition_variable work_;  // readers: a directory to read, or stop
  std::condition_variable read_;  // the walk: a directory has been read
  std::vector<DirNode*> pending_;  // unread directories, the nearest on top
  size_t ahead_bytes_ = 0;
  size_t idle_ = 0;  // readers waiting for work
  bool stop_ = false;
  size_t max_readers_;
  std::vector<std::thread> readers_;
};
