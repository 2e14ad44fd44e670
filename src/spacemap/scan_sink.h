// A scan as a stream of events in the order of a depth-first walk: from the
// walk itself or from an export read back, so that every view and the
// export see one and the same thing whichever the source.
#pragma once

#include <cstdint>
#include <string_view>

enum class Excluded : unsigned char { kNo, kPattern, kOtherFileSystem, kKernelFileSystem };

// What ncdu's extended mode keeps of an entry, each field where known: a
// walk on Win32 knows the time alone, an export may carry any of them.
struct Extended {
  enum Known : uint8_t { kMtime = 1, kUid = 2, kGid = 4, kMode = 8 };
  uint8_t known = 0;
  int64_t mtime = 0;  // last modification, seconds since 1970
  uint32_t uid = 0, gid = 0;
  uint32_t mode = 0;  // st_mode, the type bits included
};

// Makes `newest` carry the time of `ext` where that is known and newer.
inline void KeepNewest(const Extended& ext, Extended* newest) {
  if (!(ext.known & Extended::kMtime)) return;
  if ((newest->known & Extended::kMtime) && newest->mtime >= ext.mtime) return;
  newest->known |= Extended::kMtime;
  newest->mtime = ext.mtime;
}

struct Item {
  std::string_view name;  // raw bytes; for the start directory, its path
  uint64_t asize = 0;     // apparent bytes
  uint64_t dsize = 0;     // bytes it takes on disk
  uint64_t dev = 0;       // for a file, its directory's
  uint64_t ino = 0;
  uint32_t nlink = 1;     // 0: several names, how many untold (gdu's exports)
  bool notreg = false;    // neither a regular file nor a directory
  bool read_error = false;
  Excluded excluded = Excluded::kNo;
  Extended ext;           // left unknown unless asked for
};

class ScanSink {
 public:
  virtual ~ScanSink() = default;
  // A directory whose entries follow, up to the matching Leave.
  virtual void Enter(const Item& dir) = 0;
  // Anything else: a file, or a directory excluded before it was read.
  virtual void Leaf(const Item& item) = 0;
  virtual void Leave() = 0;
};

// A file is counted once for all its names when it has more than one name
// (unless every name is to count) and it is no directory.
inline bool SharesIdentity(const Item& item) { return item.nlink != 1 && item.ino != 0; }
