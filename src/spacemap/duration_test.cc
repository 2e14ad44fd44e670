#include "spacemap/duration.h"

#include <gtest/gtest.h>

namespace {

TEST(DurationTest, ReadsEachUnitAndRefusesTheRest) {
  struct Case {
    const char* text;
    bool valid;
    int64_t seconds;
  } cases[] = {
      {"90d", true, 90 * 86400}, {"6m", true, 6 * 2629746}, {"1y", true, 31556952}, {"2w", true, 14 * 86400},
      {"36h", true, 36 * 3600},  {"0s", true, 0},           {"007d", true, 7 * 86400},
      {"292277024627y", false, 0}, {"292277024626y", true, int64_t(292277024626) * 31556952},
      {"9223372036854775807s", true, INT64_MAX}, {"9223372036854775808s", false, 0},
      {"", false, 0},            {"d", false, 0},           {"90", false, 0},        {"9x", false, 0},
      {"-1d", false, 0},         {"1.5y", false, 0},        {"1 d", false, 0},       {"1D", false, 0},
  };
  for (const Case& c : cases) {
    int64_t seconds = -1;
    EXPECT_EQ(ParseDuration(c.text, &seconds), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(seconds, c.seconds) << c.text;
    }
  }
}

}  // namespace
