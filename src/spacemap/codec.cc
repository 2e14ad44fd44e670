#include "spacemap/codec.h"

#include <zlib.h>
#include <zstd.h>

#include <new>

const bool kCodecsBuiltIn = true;

namespace {

constexpr int kZstdLevel = 3;   // zstd's own default, as its tool writes
constexpr size_t kBlock = 64 * 1024;

class ZstdDecoder : public Decoder {
 public:
  ZstdDecoder() : stream_(ZSTD_createDStream()) {
    if (!stream_) throw std::bad_alloc();
  }
  ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }

  void Run(const char* input, size_t size, size_t* used, char* output, size_t room, size_t* made) override {
    ZSTD_inBuffer in{input, size, *used};
    ZSTD_outBuffer out{output, room, *made};
    size_t result = ZSTD_decompressStream(stream_, &out, &in);
    if (ZSTD_isError(result)) throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(result));
    // A frame ends where zstd wants nothing more of it and has given it all.
    if (in.pos > *used || out.pos > *made) at_boundary_ = result == 0;
    *used = in.pos;
    *made = out.pos;
  }
  bool AtBoundary() const override { return at_boundary_; }

 private:
  ZSTD_DStream* stream_;
  bool at_boundary_ = true;
};

class GzipDecoder : public Decoder {
 public:
  GzipDecoder() {
    if (inflateInit2(&z_, 15 + 16) != Z_OK) throw std::bad_alloc();  // 16: gzip's header, not zlib's
  }
  ~GzipDecoder() override { inflateEnd(&z_); }

  // Members follow one another, as gzip -dc reads them.
  void Run(const char* input, size_t size, size_t* used, char* output, size_t room, size_t* made) override {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input + *used));
    z_.avail_in = static_cast<uInt>(size - *used);
    z_.next_out = reinterpret_cast<Bytef*>(output + *made);
    z_.avail_out = static_cast<uInt>(room - *made);
    if (z_.avail_in) at_boundary_ = false;
    int result = inflate(&z_, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      at_boundary_ = true;
      inflateReset(&z_);
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      if (result == Z_MEM_ERROR) throw std::bad_alloc();
      throw std::runtime_error(std::string("gzip: ") + (z_.msg ? z_.msg : "damaged data"));
    }
    *used = size - z_.avail_in;
    *made = room - z_.avail_out;
  }
  bool AtBoundary() const override { return at_boundary_; }

 private:
  z_stream z_{};
  bool at_boundary_ = true;
};

class ZstdEncoder : public Encoder {
 public:
  ZstdEncoder() : context_(ZSTD_createCCtx()) {
    if (!context_) throw std::bad_alloc();
    ZSTD_CCtx_setParameter(context_, ZSTD_c_compressionLevel, kZstdLevel);
  }
  ~ZstdEncoder() override { ZSTD_freeCCtx(context_); }

  void Add(const char* data, size_t size, std::string* out) override { Compress(data, size, ZSTD_e_continue, out); }
  void End(std::string* out) override { Compress(nullptr, 0, ZSTD_e_end, out); }

 private:
  void Compress(const char* data, size_t size, ZSTD_EndDirective mode, std::string* out) {
    ZSTD_inBuffer in{data, size, 0};
    for (;;) {
      size_t start = out->size();
      out->resize(start + kBlock);
      ZSTD_outBuffer buffer{&(*out)[start], kBlock, 0};
      size_t left = ZSTD_compressStream2(context_, &buffer, &in, mode);
      out->resize(start + buffer.pos);
      if (ZSTD_isError(left)) throw std::bad_alloc();  // its only failure here: memory
      if (mode == ZSTD_e_end ? left == 0 : in.pos == in.size) return;
    }
  }

  ZSTD_CCtx* context_;
};

class GzipEncoder : public Encoder {
 public:
  GzipEncoder() {
    if (deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::bad_alloc();
  }
  ~GzipEncoder() override { deflateEnd(&z_); }

  void Add(const char* data, size_t size, std::string* out) override { Deflate(data, size, Z_NO_FLUSH, out); }
  void End(std::string* out) override { Deflate(nullptr, 0, Z_FINISH, out); }

 private:
  void Deflate(const char* data, size_t size, int flush, std::string* out) {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z_.avail_in = static_cast<uInt>(size);
    for (;;) {
      size_t start = out->size();
      out->resize(start + kBlock);
      z_.next_out = reinterpret_cast<Bytef*>(&(*out)[start]);
      z_.avail_out = static_cast<uInt>(kBlock);
      int result = deflate(&z_, flush);
      out->resize(start + kBlock - z_.avail_out);
      if (flush == Z_FINISH ? result == Z_STREAM_END : z_.avail_in == 0 && z_.avail_out > 0) return;
    }
  }

  z_stream z_{};
};

}  // namespace

std::unique_ptr<Decoder> NewDecoder(Compression compression) {
  if (compression == Compression::kZstd) return std::make_unique<ZstdDecoder>();
  return std::make_unique<GzipDecoder>();
}

std::unique_ptr<Encoder> NewEncoder(Compression compression) {
  if (compression == Compression::kZstd) return std::make_unique<ZstdEncoder>();
  return std::make_unique<GzipEncoder>();
}
