// The compressions of exports, from zstd's and zlib's libraries where the
// build has them (not in the Win32 build: no such libraries come for it).
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

enum class Compression { kNone, kZstd, kGzip };

class CodecUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Decoder {
 public:
  virtual ~Decoder() = default;
  // Undoes the compression of input[*used...size) into output[*made...room),
  // moving both on as far as it went; throws std::runtime_error on data
  // that is not of its format.
  virtual void Run(const char* input, size_t size, size_t* used, char* output, size_t room, size_t* made) = 0;
  // True where the data may end: between two of its frames or members.
  virtual bool AtBoundary() const = 0;
};

class Encoder {
 public:
  virtual ~Encoder() = default;
  // Appends the compressed form of `data` to `out`, as much as is ready.
  virtual void Add(const char* data, size_t size, std::string* out) = 0;
  // Appends the rest, and the end of the data.
  virtual void End(std::string* out) = 0;
};

// Whether this build has the libraries; without them, these two throw
// CodecUnavailable.
extern const bool kCodecsBuiltIn;
constexpr char kNoCodecs[] = "compressed exports are not supported in this build (no zstd or zlib)";
std::unique_ptr<Decoder> NewDecoder(Compression compression);
std::unique_ptr<Encoder> NewEncoder(Compression compression);
