// Exports as files hold them: plain JSON, or compressed with zstd or gzip.
// Reading tells the compression by the data's magic bytes; writing is told
// it, by the file's suffix or by --compress. Both stream, in blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "spacemap/codec.h"

// A file that cannot be read, or compressed data that is damaged or cut
// short, at a byte offset of the file.
class StreamError : public std::runtime_error {
 public:
  StreamError(uint64_t offset, const std::string& what) : std::runtime_error(what), offset_(offset) {}
  uint64_t offset() const { return offset_; }

 private:
  uint64_t offset_;
};

// The compression the name of a file asks for: ".zst" zstd, ".gz" gzip.
Compression CompressionOfName(const std::string& name);

class InputStream {
 public:
  explicit InputStream(std::FILE* file);  // which stays the caller's
  // Up to `size` bytes of the export into `buffer`, uncompressed; 0 at its
  // end. Throws StreamError, or CodecUnavailable for a compression this
  // build cannot read.
  size_t Read(char* buffer, size_t size);

 private:
  bool Refill();
  void Decide();

  std::FILE* file_;
  Compression compression_ = Compression::kNone;
  std::unique_ptr<Decoder> decoder_;
  bool decided_ = false;
  char input_[64 * 1024];
  size_t input_pos_ = 0, input_size_ = 0;
  uint64_t file_offset_ = 0;  // of the end of what input_ holds
};

class OutputStream {
 public:
  // Throws CodecUnavailable for a compression this build cannot write.
  OutputStream(std::FILE* file, Compression compression);
  // False once a write failed.
  bool Write(const char* data, size_t size);
  // Ends the compressed data and flushes the file; false when a write failed.
  bool Finish();

 private:
  void Put(const std::string& bytes);

  std::FILE* file_;
  std::unique_ptr<Encoder> encoder_;
  std::string packed_;
  bool failed_ = false;
};
