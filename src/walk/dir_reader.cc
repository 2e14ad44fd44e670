#include "walk/dir_reader.h"

namespace {

class PlatformReader : public DirReader {
 public:
  bool Read(platform::Dir* dir, const platform::ReadPacer& pacer) override {
    return platform::ReadDirectory(dir, pacer);
  }
  void Unread(platform::Dir* dir) override { platform::UnreadDirectory(dir); }
  size_t ConcurrentReads() override { return platform::ConcurrentReads(); }
  platform::Thread* StartThread(void (*run)(void*), void* arg) override { return platform::StartThread(run, arg); }
};

}  // namespace

DirReader& SystemReader() {
  static PlatformReader reader;
  return reader;
}
