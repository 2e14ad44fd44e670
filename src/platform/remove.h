// Removing what a scan found, and nothing else: each directory on the way
// and the entry itself must still be the one the scan met.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A directory or file as the scan met it. For the start directory `name`
// is its path; below, the name in its parent.
struct ScannedEntry {
  std::string name;
  uint64_t dev = 0;
  uint64_t ino = 0;  // 0 where the platform did not tell
  bool dir = false;
};

// Removes the last of `chain` (a directory with everything below it),
// `chain` leading to it from the start directory. Where the platform knows
// device and inode, every step is opened without following a link and
// checked against the scan, and the entry is removed relative to its
// verified parent; a directory below on another file system, or a symbolic
// link, is never entered. 0, or an error code with `why` saying what stood
// in the way: `why` tells it as a sentence.
int RemoveScanned(const std::vector<ScannedEntry>& chain, std::string* why);

}  // namespace platform
