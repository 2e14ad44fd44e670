#include "spacemap/units.h"

std::string FormatSize(uint64_t bytes, Units units) {
  uint64_t base = units == Units::kSi ? 1000 : 1024;
  if (units == Units::kBytes || bytes < base) return std::to_string(bytes);
  static const char kBinary[] = "KMGTPE", kSi[] = "kMGTPE";
  const char* suffixes = units == Units::kSi ? kSi : kBinary;
  long double scale = 1;
  for (int unit = 0; unit < 6; ++unit) {
    scale *= static_cast<long double>(base);
    long double value = static_cast<long double>(bytes) / scale;
    auto up = [](long double v) { return static_cast<uint64_t>(v) + (v > static_cast<uint64_t>(v)); };
    if (value < 10) {
      uint64_t tenths = up(value * 10);
      if (tenths < 100) return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + suffixes[unit];
    }
    uint64_t whole = up(value);
    if (whole < base || unit == 5) return std::to_string(whole) + suffixes[unit];
  }
  return std::to_string(bytes);
}

std::string FormatChange(uint64_t old_size, uint64_t new_size, Units units) {
  if (old_size == new_size) return "0";
  return (new_size > old_size ? "+" : "-") +
         FormatSize(new_size > old_size ? new_size - old_size : old_size - new_size, units);
}
