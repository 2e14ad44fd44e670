// The build without zstd's and zlib's libraries (Win32): exports are plain.
#include "spacemap/codec.h"

const bool kCodecsBuiltIn = false;

std::unique_ptr<Decoder> NewDecoder(Compression) { throw CodecUnavailable(kNoCodecs); }

std::unique_ptr<Encoder> NewEncoder(Compression) { throw CodecUnavailable(kNoCodecs); }
