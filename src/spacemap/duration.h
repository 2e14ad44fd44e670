// Ages as a person writes them: a whole number and its unit.
#pragma once

#include <cstdint>
#include <string_view>

// "90d", "6m", "1y": s seconds, h hours, d days, w weeks, m months, y
// years (months and years of the Gregorian calendar's average length:
// 30.44 and 365.24 days). False when `text` is none of these or its
// seconds would not fit.
bool ParseDuration(std::string_view text, int64_t* seconds);
