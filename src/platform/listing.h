// What reading a directory gives: its entries, their names and, for a walk
// that wants more than names and sizes, their examinations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Attribute bits of a directory entry.
enum : unsigned {
  kHidden = 0x02,
  kSystem = 0x04,
  kVolumeLabel = 0x08,
  kDirectory = 0x10,
  kExcluded = 0x80,  // a directory that a SubdirFilter kept from being read
};

// One entry of a directory listing.
struct Entry {
  uint32_t name;    // offset of its NUL-terminated name in Listing::names
  uint32_t native;  // offset of the name by which the platform opens it
  unsigned attrib;
  int error;        // not 0: the entry could not be examined, size unknown
  uint64_t size;    // bytes; 0 for directories
};

// Where a directory lies, told of a directory opened by a filtered read
// whose device differs from its parent's.
enum class FileSystem : unsigned char {
  kSame,
  kOther,
  kKernel,  // made up by the kernel (/proc, /sys and the like), on no disk
};

// What a walk that counts like du learns of an entry beyond its size, from
// the one examination the reader makes of it anyway.
struct EntryStat {
  uint64_t apparent = 0;   // bytes, directories included
  uint64_t allocated = 0;  // bytes the file system gives it
  uint64_t dev = 0;
  uint64_t ino = 0;        // 0 where the platform cannot tell without an open
  uint32_t nlink = 1;
  bool regular = true;     // a regular file or a directory
  FileSystem file_system = FileSystem::kSame;
  // Last modification, seconds since 1970; owner, group and mode (st_mode
  // whole, its type bits included) where the platform has them: Win32 has
  // no such owner and mode.
  bool has_mtime = false;
  bool has_owner = false;  // uid, gid and mode
  int64_t mtime = 0;
  uint32_t uid = 0, gid = 0, mode = 0;
};

// A directory read whole: its entries in the order the file system delivers
// them, "." and ".." left out. A snapshot: nothing is read from it later.
struct Listing {
  std::vector<Entry> entries;
  std::string names;
  int error = 0;  // not 0: reading stopped here; `entries` hold what came before
  size_t subdirs = 0;  // entries that are directories
  // Only for a read given a SubdirFilter: the directory's own first, then
  // one per entry. Empty otherwise, so that the walk of space carries
  // nothing more per directory.
  std::vector<EntryStat> stats;

  const char* NameOf(const Entry& entry) const { return names.data() + entry.name; }
  const char* NativeNameOf(const Entry& entry) const { return names.data() + entry.native; }
  const EntryStat& SelfStat() const { return stats[0]; }
  const EntryStat& StatOf(size_t entry_index) const { return stats[entry_index + 1]; }
  // Memory held, for the budget of listings read ahead.
  size_t Bytes() const {
    return entries.capacity() * sizeof(Entry) + names.capacity() + stats.capacity() * sizeof(EntryStat);
  }
  // Gives the memory back. Assigning an empty listing would not: a string
  // keeps its buffer when a short one is assigned to it.
  void Release() {
    std::vector<Entry>().swap(entries);
    std::string().swap(names);
    std::vector<EntryStat>().swap(stats);
    error = 0;
    subdirs = 0;
  }
};

// Every reader leaves these out of its listings.
inline bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace platform
