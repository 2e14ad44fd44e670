// Drives and the current directory: the free space and geometry of the
// file system a walk counts, and where relative paths start from.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

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

}  // namespace platform
