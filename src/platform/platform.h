// The operating-system services that the rest of the tool uses. Each
// platform implements this header in one source file; the tests link a
// fake that serves scripted trees and drive figures.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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
};

struct Entry {
  const char* name;  // valid until the next call on the chain
  unsigned attrib;
  uint64_t size;     // bytes; 0 for directories
  int error;         // not 0: the entry could not be examined, size unknown
};

// The directories a walk has open, from the start directory down to the one
// being read. Any depth is supported: the implementation keeps its use of
// descriptors and memory bounded per level.
class DirChain {
 public:
  DirChain();
  ~DirChain();
  DirChain(const DirChain&) = delete;
  DirChain& operator=(const DirChain&) = delete;

  // Opens the start directory; `path` ends in a separator. 0 or an error code.
  int OpenStart(const std::string& path);
  // Opens the directory entry that Next() delivered last. 0 or an error code.
  int OpenChild();
  // Delivers the next entry of the deepest open directory. False at its end,
  // and also when reading fails, with `*error` set (0 at a plain end).
  bool Next(Entry* entry, int* error);
  // Closes the deepest directory; reading its parent goes on where it stopped.
  // When the parent cannot be resumed, its next Next() ends it with the error.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

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
// Writes report bytes to standard output. 0 or an error code.
int WriteStdout(const char* data, size_t size);
// Writes text held in code page 932 to standard output, converted to what
// the user's terminal or locale shows. 0 or an error code.
int WriteCp932(const char* data, size_t size);
// Writes a message to standard error.
void WriteStderr(const std::string& text);

// The system's description of an error code.
std::string ErrorText(int error);

// For the progress line a person watching a long run sees on standard error:
// the columns of the terminal or console that standard error shows on, 0
// when it goes elsewhere (a file, a pipe, a log).
int StderrTerminalWidth();
// True when standard output shows on the same terminal or console as
// standard error, so that rows and the progress line share one screen.
bool StdoutSharesStderrTerminal();
// The time on a clock that only moves forward.
std::chrono::steady_clock::time_point Now();

// 0 when the start directory `dir` (ending in a separator) is a directory,
// following a symbolic link; else the error that says why it is none: no
// such file or directory, or not a directory.
int CheckDirectory(const std::string& dir);

}  // namespace platform
