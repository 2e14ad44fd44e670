// The operating-system services that the rest of the tool uses. Each
// platform implements this header in one source file.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The separator that the walk appends to directory paths and prints.
extern const char kSeparator;
// Bytes that, as the last character of a start path, already end a directory
// prefix to which a name can be appended.
extern const char kPathEnders[];

// The bytes that make an argument an option argument. Where "/" starts
// absolute paths it cannot also start options.
extern const char kOptionPrefixes[];

// True when `c` starts a double-byte character in the text the walk handles.
bool IsLeadByte(unsigned char c);

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

// Every reader leaves these out of its listings.
inline bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

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
// True where names that differ only in the case of their letters name the
// same file, so that kinds of files by extension are told apart in any case.
extern const bool kNamesIgnoreCase;
// How many directories may be read at once without running out of what
// the system grants a process (open descriptors); at least 1.
size_t ConcurrentReads();
// Undoes the read of `dir`, begun or ended, which will be read again: its
// listing is released, and what the platform kept of the read let go.
void UnreadDirectory(Dir* dir);
// Nothing below `dir` will be read any more: lets go of what the platform
// kept for it. On the walk's thread.
void ForgetDirectory(Dir* dir);

// Geometry and free space of a drive.
struct dfree {
  uint64_t df_avail;   // free clusters available to the user
  uint64_t df_total;   // clusters
  uint32_t df_bsec;    // bytes per sector
  uint32_t df_sclus;   // sectors per cluster
};

// Queries drive `drive` (0 = current, 1 = A, ...). `dir`, when not null, is
// the directory the walk will enumerate first; platforms without drive
// letters query the file system that holds it. 0 or an error code.
int getdfree(unsigned drive, const char* dir, dfree* df);

// Current drive (0 = A); platforms without drive letters answer -1.
int getdisk();
// Makes `drive` (0 = A) current, entering the directory recorded as current
// there. 0 or an error code.
int setdisk(int drive);
// The current directory; false when it cannot be read.
bool getcwd(std::string* dir);
// Makes `path` current (and its drive, where it names one). 0 or an error code.
int chdir(const char* path);

// The value of environment variable `name`, matched ignoring ASCII case.
bool GetEnv(const char* name, std::string* value);
// The command-line arguments, argument 0 the full path of the executable.
std::vector<std::string> Arguments(int argc, char** argv);

// True when standard output is a terminal or console that a person watches.
bool StdoutIsInteractive();
// True when standard output is a terminal or console that shows ANSI colour
// sequences (on Win32, once asked to).
bool StdoutShowsColour();
// Writes report bytes to standard output. 0 or an error code.
int WriteStdout(const char* data, size_t size);
// Writes text held in code page 932 to standard output, converted to what
// the user's terminal or locale shows. 0 or an error code.
int WriteCp932(const char* data, size_t size);
// spacemap's text is UTF-8 whatever the code page. An entry's name in UTF-8:
// on Win32 from its wide form, which no code page loses, into `buffer`;
// elsewhere the name's own bytes.
std::string_view NameInUtf8(const Listing& listing, const Entry& entry, std::string* buffer);
// A path of the command line (in the code page on Win32) in UTF-8.
std::string PathInUtf8(const std::string& path);
// From the first call on, a console shows what WriteStdout writes as UTF-8
// rather than text of the code page; files and pipes get the bytes as they are.
void StdoutInUtf8();
// Makes the C library's standard input and output carry bytes as they
// are, for a file read or written through them ("-").
void BinaryStdio();
// Writes a message to standard error.
void WriteStderr(const std::string& text);
// Writes ASCII bytes to standard error as they are, allocating nothing: for
// erasing the progress line and for the message that memory ran out.
void WriteStderrAsIs(const char* data, size_t size);
// What ends a line on standard error, written as is.
extern const char kLineEnd[];

// The system's description of an error code.
std::string ErrorText(int error);

// For the progress line a person watching a long run sees on standard error:
// the columns of the terminal or console that standard error shows on, 0
// when it goes elsewhere (a file, a pipe, a log).
int StderrTerminalWidth();
// The same for standard output, for reports that fit their lines to it.
int StdoutTerminalWidth();
// True when standard output shows on the same terminal or console as
// standard error, so that rows and the progress line share one screen.
bool StdoutSharesStderrTerminal();
// True when standard output is a pipe or a socket: the program reading it
// may show the rows on the terminal of the progress line, unaware of it.
bool StdoutIsPipe();
// From the first call on, an interrupt (SIGINT, SIGTERM, SIGHUP, SIGQUIT; a
// console control event on Win32) writes "\r", `columns` blanks and "\r" to
// standard error, erasing the progress line, and then ends the process as
// it would have without. Each call replaces `columns`; 0 writes nothing.
void EraseOnInterrupt(size_t columns);
// The time on a clock that only moves forward.
std::chrono::steady_clock::time_point Now();

// A thread of the tool's own.
struct Thread;
// Stack of each such thread: their code never recurses, so a small one
// leaves the address space to listings, however many threads run.
constexpr size_t kThreadStackBytes = 256 * 1024;
// Runs `run(arg)` on a new thread; null when the system grants no more.
Thread* StartThread(void (*run)(void*), void* arg);
// Waits for `thread` to end and lets go of it.
void JoinThread(Thread* thread);
// Processor time the calling thread has used.
std::chrono::nanoseconds ThreadCpuTime();
// Time the machine's processors have been busy, summed over them all and
// over every process: what decides whether more threads could run at all.
// Where the system does not tell, the time this process has used.
std::chrono::nanoseconds BusyProcessorTime();
// Before threads start: memory is allocated from at most `arenas` pools, so
// that address space does not grow with the number of threads, and large
// blocks go back to the system when freed.
void TuneAllocator(unsigned arenas);

}  // namespace platform
