// Reading the directories of a walked tree, a piece at a time, from any
// thread, with what the platform holds open between pieces kept on the
// walk's thread. Each system implements it in dir_read-<system>.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/listing.h"

namespace platform {

// What tells one directory from every other on the system while it exists,
// where the platform knows it (device and inode on POSIX).
struct FileId {
  uint64_t dev, ino;
  bool operator==(const FileId& other) const { return dev == other.dev && ino == other.ino; }
};

// A directory of the walked tree. The walk keeps one from before its reading
// until nothing below it is left to read.
struct Dir {
  Dir* parent = nullptr;        // null for the start directory
  const char* name = "";        // native name in the parent; the start path for the start directory
  Listing listing;
  FileId id{0, 0};              // of the directory its read found, where the platform needs it
  // The platform's own, from the start of its read until the last of its
  // subdirectories is opened: on POSIX, the descriptor it keeps and the
  // books of the walk's cache of them (see descriptors-posix.h).
  struct Handle {
    int fd = -1;                // kept, or being read
    int at = -1;                // the parent's, pinned for the open of this one
    void* stream = nullptr;     // a readdir stream between pieces
    uint32_t pins = 0;          // reads of subdirectories begun and not opened
    uint32_t unopened = 0;      // subdirectories not opened yet
    uint32_t depth = 0;         // below the start directory
    bool opened = false;        // counted as opened in its parent's `unopened`
    bool begun = false;         // BeginRead until its read ends or is given up
    bool pinning = false;       // holds a pin on its parent
    bool reading = false;       // a piece ended before the directory did
    bool failed = false;        // its parent could not be had
    bool out_of_descriptors = false;  // its open found none left
    Dir* older = nullptr;       // neighbours among the directories that keep a descriptor
    Dir* newer = nullptr;
    Dir* skip = nullptr;        // an ancestor above which, once, nothing needed a descriptor
  } handle;
};

// For a walk that wants more than names and sizes: given to ReadPiece,
// it has every entry examined into Listing::stats and decides which
// directories are read. It is asked of each subdirectory by name when its
// parent is read (with an EntryStat left unknown, as a subdirectory is
// examined only once opened), where one refused stays in the listing marked
// kExcluded instead of kDirectory; and, where the platform tells file
// systems apart, again with its own examination (Listing::SelfStat) once it
// is opened, where one refused is read as if empty. Both answers must agree
// on the name.
using SubdirFilter = std::function<bool(const char* name, const EntryStat& stat)>;

// A directory is read in three steps, so that only the middle one, which
// makes the system calls of reading, runs on other threads than the walk's:
// BeginRead and EndPiece keep the books of what the platform holds open, on
// the walk's thread alone.
//
// Readies the read of `dir` (the first piece; later pieces need nothing).
// False: it cannot begin until reads under way end; never when `alone`,
// which no read under way or paused is beside. The parent of each directory
// is read before it.
bool BeginRead(Dir* dir, bool alone);
// Reads on, into dir->listing, until it holds `allowance` bytes (one batch
// of entries at least) or the directory ends; an error that stops the
// reading is kept in the listing (on POSIX, ESTALE: an ancestor found again
// by name is another directory than the one read there). Where it has
// subdirectories, records dir->id. Any thread, for a directory no other
// reads. Throws std::bad_alloc, after which UnreadDirectory undoes the read.
void ReadPiece(Dir* dir, size_t allowance, const SubdirFilter* filter);
enum class ReadEnd { kEnded, kMore, kRetry };
// After each piece: kMore, the directory goes on, for another ReadPiece;
// kRetry, no descriptor was left to open it: the read is undone, to be
// begun again (at once when `alone`).
ReadEnd EndPiece(Dir* dir, bool alone);
// Examines `path` without following a link, for the rare directory a
// filtered read could not open; false where it cannot.
bool ExaminePath(const char* path, EntryStat* stat);
// True where EntryStat::allocated is the file system's own count; false
// where it is the apparent size, to be rounded to the drive's clusters.
extern const bool kKnowsAllocatedSize;
// How many directories may be read at once without running out of what
// the system grants a process (open descriptors); at least 1.
size_t ConcurrentReads();
// Undoes the read of `dir`, begun or ended, which will be read again: its
// listing is released, and what the platform kept of the read let go.
void UnreadDirectory(Dir* dir);
// Nothing below `dir` will be read any more: lets go of what the platform
// kept for it. On the walk's thread.
void ForgetDirectory(Dir* dir);

}  // namespace platform
