#include "spacemap/export_stream.h"

#include <cerrno>
#include <cstring>

#include "platform/error_text.h"

namespace {

bool EndsWith(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
}

// zstd's frame magic number (little-endian 0xFD2FB528) and gzip's.
Compression CompressionOfMagic(const char* data, size_t size) {
  if (size >= 4 && std::memcmp(data, "\x28\xb5\x2f\xfd", 4) == 0) return Compression::kZstd;
  if (size >= 2 && std::memcmp(data, "\x1f\x8b", 2) == 0) return Compression::kGzip;
  return Compression::kNone;
}

const char* NameOf(Compression compression) { return compression == Compression::kZstd ? "zstd" : "gzip"; }

}  // namespace

Compression CompressionOfName(const std::string& name) {
  if (EndsWith(name, ".zst")) return Compression::kZstd;
  if (EndsWith(name, ".gz")) return Compression::kGzip;
  return Compression::kNone;
}

InputStream::InputStream(std::FILE* file) : file_(file) {}

bool InputStream::Refill() {
  input_pos_ = 0;
  input_size_ = std::fread(input_, 1, sizeof input_, file_);
  if (input_size_ == 0 && std::ferror(file_))
    throw StreamError(file_offset_, "cannot read: " + platform::ErrorText(errno ? errno : EIO));
  file_offset_ += input_size_;
  return input_size_ > 0;
}

// The first block tells whether the data is compressed; a magic number cut
// short is plain text, which the reader then finds malformed.
void InputStream::Decide() {
  decided_ = true;
  Refill();
  compression_ = CompressionOfMagic(input_, input_size_);
  if (compression_ != Compression::kNone) decoder_ = NewDecoder(compression_);
}

size_t InputStream::Read(char* buffer, size_t size) {
  if (!decided_) Decide();
  if (!decoder_) {
    if (input_pos_ == input_size_ && !Refill()) return 0;
    size_t n = std::min(size, input_size_ - input_pos_);
    std::memcpy(buffer, input_ + input_pos_, n);
    input_pos_ += n;
    return n;
  }
  // The decoder may hold output from input it took before: it is asked
  // first, and given more only when it makes nothing of what it has.
  for (;;) {
    size_t made = 0;
    uint64_t at = file_offset_ - (input_size_ - input_pos_);
    try {
      decoder_->Run(input_, input_size_, &input_pos_, buffer, size, &made);
    } catch (const std::runtime_error& e) {
      throw StreamError(at, e.what());
    }
    if (made) return made;
    if (input_pos_ < input_size_) continue;
    if (!Refill()) {
      if (!decoder_->AtBoundary()) throw StreamError(file_offset_, std::string("the ") + NameOf(compression_) + " data is cut short");
      return 0;
    }
  }
}

OutputStream::OutputStream(std::FILE* file, Compression compression) : file_(file) {
  if (compression != Compression::kNone) encoder_ = NewEncoder(compression);
}

void OutputStream::Put(const std::string& bytes) {
  if (!failed_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
}

bool OutputStream::Write(const char* data, size_t size) {
  if (!encoder_) {
    if (!failed_ && std::fwrite(data, 1, size, file_) != size) failed_ = true;
    return !failed_;
  }
  packed_.clear();
  encoder_->Add(data, size, &packed_);
  Put(packed_);
  return !failed_;
}

bool OutputStream::Finish() {
  if (encoder_) {
    packed_.clear();
    encoder_->End(&packed_);
    Put(packed_);
  }
  if (std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}
