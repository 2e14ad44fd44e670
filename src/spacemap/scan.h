// The walk that counts as du does, told to a ScanSink as it goes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spacemap/scan_sink.h"

struct ScanChoices {
  std::vector<std::string> excludes;  // patterns on names, or with a slash on paths
  bool exclude_hidden = false;        // names starting with '.'
  bool exclude_caches = false;        // directories holding a valid CACHEDIR.TAG
  bool one_file_system = false;
  // Bytes on disk counted as the apparent size rounded up to clusters of
  // this size (bytes when 1); 0 counts what the file system allocated.
  uint64_t cluster_size = 0;
  bool extended = false;  // each Item's time, owner and mode, from the same examination
};

// The start path as exports and views name it: absolute, without a
// trailing separator unless it is a root.
std::string AbsoluteStartPath(const std::string& path);

// Warns, on standard error, of each exclude pattern that can match nothing
// below `path`: an exclude file written for another tree does less than
// it seems to.
void WarnOfExcludesThatNeverMatch(const std::string& path, const ScanChoices& choices);

// Walks the tree below `path`. Directories that cannot be read are
// reported on standard error (and make the status 2) and marked in the scan.
void Scan(const std::string& path, const ScanChoices& choices, ScanSink* sink);
