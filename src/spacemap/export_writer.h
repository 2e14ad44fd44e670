// The scan written as it arrives in the JSON export format that ncdu (1.x,
// format 1.2) and gdu read, so that memory does not grow with the tree.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "spacemap/export_stream.h"
#include "spacemap/scan_sink.h"

class ExportWriter : public ScanSink {
 public:
  // Writes to `out`, which stays the caller's; `version` names this
  // program in the header, `timestamp` its time (seconds since 1970).
  // `extended`: each entry's time, owner and mode too, where known, as
  // ncdu -e writes them.
  ExportWriter(OutputStream* out, const char* version, int64_t timestamp, bool extended = false);
  void Enter(const Item& dir) override;
  void Leaf(const Item& item) override;
  void Leave() override;
  // Closes the outermost array; false when a write failed.
  bool Finish();

 private:
  void Object(const Item& item, bool dir);
  void Name(std::string_view name);
  void Number(const char* key, uint64_t value);
  void ExtendedFields(const Extended& ext);
  void Flush();

  OutputStream* out_;
  std::string buffer_;
  std::vector<uint64_t> dirs_dev_;  // of the directories entered
  bool extended_;
  bool failed_ = false;
};

// Appends `name` as a JSON string: bytes as they are but for '"', '\\' and
// control bytes, escaped, as ncdu writes them.
void AppendJsonString(std::string_view name, std::string* out);
