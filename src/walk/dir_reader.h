// What the read-ahead asks of the system: reading one directory, how many
// may be read at once, and threads to read them on. The system's own
// answers come from the platform layer; the core's tests give answers of
// their own, to make reads slow, wide, failing or refused at will.
#pragma once

#include <cstddef>

#include "platform/platform.h"

class DirReader {
 public:
  virtual ~DirReader() = default;
  // As platform::ReadDirectory: false when the pacer gave the read up.
  virtual bool Read(platform::Dir* dir, const platform::ReadPacer& pacer) = 0;
  // As platform::UnreadDirectory, after Read threw std::bad_alloc.
  virtual void Unread(platform::Dir* dir) = 0;
  // As platform::ConcurrentReads.
  virtual size_t ConcurrentReads() = 0;
  // As platform::PauseRead and ResumeRead, around a read's wait for room.
  virtual void PauseRead() {}
  virtual void ResumeRead() {}
  // As platform::StartThread: null when no thread is granted.
  virtual platform::Thread* StartThread(void (*run)(void*), void* arg) = 0;
};

// The platform's reader; given a filter, it hands it to every read (see
// platform::SubdirFilter).
class SystemReader : public DirReader {
 public:
  explicit SystemReader(const platform::SubdirFilter* filter = nullptr) : filter_(filter) {}
  bool Read(platform::Dir* dir, const platform::ReadPacer& pacer) override;
  void Unread(platform::Dir* dir) override;
  size_t ConcurrentReads() override;
  void PauseRead() override { platform::PauseRead(); }
  void ResumeRead() override { platform::ResumeRead(); }
  platform::Thread* StartThread(void (*run)(void*), void* arg) override;

 private:
  const platform::SubdirFilter* filter_;
};
