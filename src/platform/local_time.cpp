#include "platform/local_time.h"

#include <ctime>

namespace qn::platform {

// The C library's own conversion, the same on POSIX and Windows: it knows
// the zone's rules, including which side of a change of daylight saving a
// time falls on.
int64_t UnixTimeOfLocal(const DateTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&tm);
  return seconds == static_cast<std::time_t>(-1) ? -1 : static_cast<int64_t>(seconds);
}

}  // namespace qn::platform
