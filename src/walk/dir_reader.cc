#include "walk/dir_reader.h"

bool SystemReader::Read(platform::Dir* dir, const platform::ReadPacer& pacer) {
  return platform::ReadDirectory(dir, pacer, filter_);
}

void SystemReader::Unread(platform::Dir* dir) { platform::UnreadDirectory(dir); }

size_t SystemReader::ConcurrentReads() { return platform::ConcurrentReads(); }

platform::Thread* SystemReader::StartThread(void (*run)(void*), void* arg) { return platform::StartThread(run, arg); }
