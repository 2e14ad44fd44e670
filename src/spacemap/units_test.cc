#include "spacemap/units.h"

#include <gtest/gtest.h>

namespace {

TEST(UnitsTest, RoundsUpAsDuDoes) {
  struct Case {
    uint64_t bytes;
    Units units;
    const char* text;
  } cases[] = {
      {0, Units::kBinary, "0"},
      {1023, Units::kBinary, "1023"},
      {1024, Units::kBinary, "1.0K"},
      {1025, Units::kBinary, "1.1K"},
      {10239, Units::kBinary, "10K"},
      {10 * 1024 + 1, Units::kBinary, "11K"},
      {1024 * 1024 - 1, Units::kBinary, "1.0M"},
      {1000, Units::kSi, "1.0k"},
      {999999, Units::kSi, "1.0M"},
      {UINT64_MAX, Units::kBinary, "16E"},
      {UINT64_MAX, Units::kBytes, "18446744073709551615"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSize(c.bytes, c.units), c.text) << c.bytes;
}

}  // namespace
