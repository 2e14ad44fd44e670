// Sizes as a person reads them.
#pragma once

#include <cstdint>
#include <string>

enum class Units { kBinary, kSi, kBytes };

// As du -h does: powers of 1024 (of 1000 for kSi, "k" for its kilo),
// rounded up, one decimal below 10; kBytes plain digits.
std::string FormatSize(uint64_t bytes, Units units);
// A change from `old_size` to `new_size`: "+1.5M", "-20K", "0".
std::string FormatChange(uint64_t old_size, uint64_t new_size, Units units);
