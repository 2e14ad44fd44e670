// A total over a set of files.
#pragma once

#include <cstdint>

#include "report/saturating.h"

struct files_t {
  uint64_t files = 0;
  uint64_t size = 0;    // bytes
  uint64_t clusts = 0;  // clusters of the counting size; bytes when that size is 0

  files_t() = default;
  files_t(uint64_t f, uint64_t s, uint64_t c) : files(f), size(s), clusts(c) {}

  files_t& operator+=(const files_t& a) {
    files = SatAdd(files, a.files);
    size = SatAdd(size, a.size);
    clusts = SatAdd(clusts, a.clusts);
    return *this;
  }
};
