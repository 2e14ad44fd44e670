// The options record: what the user asked for, read by every part of a run.
#pragma once

#include <cstdint>
#include <string>

class TOpt {
 public:
  TOpt();
  // Returns to the drive and directory in which the run started.
  ~TOpt();

  unsigned drive;        // drive letter of the tree measured ('@' where there are none)
  const char* pathname;  // start path as typed; not owned
  int use_c;             // 1 when c holds the counting cluster size
  uint32_t c;            // counting cluster size in bytes; 0 counts bytes
  int f;                 // -f: file rows
  int t;                 // -t: rows for the first level only
  int b;                 // -b: bytes column
  int C;                 // -C: thousands separators
  int n;                 // -n: files column
  int p;                 // -p: change into the start path first
  int g;                 // -g: gap column
  int s;                 // -s: allocated column
  int h;                 // -h: headings
  std::string startpath; // directory to return to; empty when unreadable
};

extern TOpt opt;
