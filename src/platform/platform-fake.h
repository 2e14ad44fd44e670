// Control of the fake platform that the unit tests link instead of a real
// one. It behaves like the Win32 platform (drive letters, backslashes, code
// page 932) and serves what a test scripts: drives, directories with entries
// in a fixed order, the environment, and failures of any of them. What the
// tool writes to standard output and standard error is kept for the test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// Win32 error codes, as the real platform reports them.
enum : int {
  kPathNotFound = 3,
  kAccessDenied = 5,
  kInvalidDrive = 15,
  kNotReady = 21,
  kDiskFull = 112,
};

struct Item {
  std::string name;
  unsigned attrib = 0;
  uint64_t size = 0;
  int error = 0;  // not 0: examining the entry fails
};

Item File(std::string name, uint64_t size, unsigned attrib = 0);
Item Subdir(std::string name);

struct Directory {
  std::vector<Item> entries;  // delivered in this order
  int open_error = 0;         // not 0: opening the directory fails
  size_t read_fails_after = SIZE_MAX;  // entries delivered before reading fails
  int read_error = 0;
};

struct Drive {
  uint32_t bytes_per_sector = 512;
  uint32_t sectors_per_cluster = 8;
  uint64_t free_clusters = 1000;
  uint64_t total_clusters = 100000;
  int error = 0;    // not 0: querying the drive fails
  std::string cwd;  // its current directory, "X:\..."
};

// Back to the start: drive C (clusters of 8 sectors of 512 bytes, 1000 free)
// is the only drive and current, at "C:\"; no directories, no environment,
// nothing written, no failures scripted.
void Reset();

// The drive with `letter` (upper case), made with the defaults above and its
// root as current directory when it does not exist yet.
Drive& DriveAt(char letter);
// The directory that the walk opens as `path`, e.g. ".\" or ".\src\".
// Unknown paths cannot be opened.
Directory& Dir(const std::string& path);
// Entering `path` (exactly as given to chdir) fails with `error`.
void FailChdir(const std::string& path, int error);
void SetEnv(const std::string& name, const std::string& value);
// Standard output takes `bytes` more bytes, then every write fails with `error`.
void FailStdoutAfter(size_t bytes, int error);

const std::string& Stdout();
const std::string& Stderr();

}  // namespace fake
