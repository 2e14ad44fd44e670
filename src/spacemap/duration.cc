#include "spacemap/duration.h"

namespace {

int64_t SecondsPer(char unit) {
  switch (unit) {
    case 's': return 1;
    case 'h': return 3600;
    case 'd': return 86400;
    case 'w': return 7 * 86400;
    case 'm': return 2629746;   // 365.2425 days / 12
    case 'y': return 31556952;  // 365.2425 days
    default: return 0;
  }
}

}  // namespace

bool ParseDuration(std::string_view text, int64_t* seconds) {
  if (text.size() < 2) return false;
  int64_t per = SecondsPer(text.back());
  if (!per) return false;
  int64_t count = 0;
  for (char digit : text.substr(0, text.size() - 1)) {
    if (digit < '0' || digit > '9') return false;
    if (count > (INT64_MAX / per - (digit - '0')) / 10) return false;
    count = count * 10 + (digit - '0');
  }
  *seconds = count * per;
  return true;
}
