// Arithmetic on counts and sizes. They are unsigned 64-bit numbers, and a
// sum or product that would pass 2^64 - 1 stops there instead of wrapping
// round: a number too large to hold then reads as the largest one, never
// as a small one.
#pragma once

#include <cstdint>
#include <limits>

constexpr uint64_t kCountCap = std::numeric_limits<uint64_t>::max();

inline uint64_t SatAdd(uint64_t a, uint64_t b) { return a > kCountCap - b ? kCountCap : a + b; }

inline uint64_t SatMul(uint64_t a, uint64_t b) { return b != 0 && a > kCountCap / b ? kCountCap : a * b; }

// A capped minuend stands for an unknown larger number, so what is taken
// from it stays capped; below 0 there is only 0.
inline uint64_t SatSub(uint64_t a, uint64_t b) {
  if (a == kCountCap) return kCountCap;
  return a < b ? 0 : a - b;
}

// Cluster sizes are 32-bit numbers: a larger one stops at 2^32 - 1, as an
// explicit size above that does.
inline uint32_t SatNarrow(uint64_t a) {
  return a > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                  : static_cast<uint32_t>(a);
}
