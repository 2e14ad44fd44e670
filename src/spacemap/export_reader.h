// Reads a scan back from a JSON export (this program's, ncdu's or gdu's)
// and tells it to a ScanSink, as the walk would have. Any depth, with no
// recursion; anything malformed stops the reading with its byte offset.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "spacemap/export_stream.h"
#include "spacemap/scan_sink.h"

class MalformedExport : public std::runtime_error {
 public:
  MalformedExport(uint64_t offset, const std::string& what)
      : std::runtime_error(what), offset_(offset) {}
  uint64_t offset() const { return offset_; }  // of the first byte that does not fit

 private:
  uint64_t offset_;
};

// Throws MalformedExport, and what `in` throws.
void ReadExport(InputStream* in, ScanSink* sink);
