// What the read-ahead asks of the system: the three steps of reading a
// directory (see platform::BeginRead), how many may be read at once, and
// threads to read them on. The system's own answers come from the platform
// layer; the core's tests give answers of their own, to make reads slow,
// wide, failing or refused at will.
#pragma once

#include <cstddef>

#include "platform/dir_read.h"
#include "platform/thread.h"

class DirReader {
 public:
  virtual ~DirReader() = default;
  // As platform::BeginRead, EndPiece and UnreadDirectory: on the printer.
  virtual bool Begin(platform::Dir* dir, bool alone) = 0;
  virtual platform::ReadEnd End(platform::Dir* dir, bool alone) = 0;
  virtual void Unread(platform::Dir* dir) = 0;
  // As platform::ReadPiece: on any thread.
  virtual void Read(platform::Dir* dir, size_t allowance) = 0;
  // As platform::ConcurrentReads.
  virtual size_t ConcurrentReads() = 0;
  // As platform::StartThread: null when no thread is granted.
  virtual platform::Thread* StartThread(void (*run)(void*), void* arg) = 0;
};

// The platform's reader; given a filter, it hands it to every read (see
// platform::SubdirFilter).
class SystemReader : public DirReader {
 public:
  explicit SystemReader(const platform::SubdirFilter* filter = nullptr) : filter_(filter) {}
  bool Begin(platform::Dir* dir, bool alone) override { return platform::BeginRead(dir, alone); }
  platform::ReadEnd End(platform::Dir* dir, bool alone) override { return platform::EndPiece(dir, alone); }
  void Unread(platform::Dir* dir) override { platform::UnreadDirectory(dir); }
  void Read(platform::Dir* dir, size_t allowance) override { platform::ReadPiece(dir, allowance, filter_); }
  size_t ConcurrentReads() override { return platform::ConcurrentReads(); }
  platform::Thread* StartThread(void (*run)(void*), void* arg) override { return platform::StartThread(run, arg); }

 private:
  const platform::SubdirFilter* filter_;
};
