// Local date and time, read through a clock so that tests can set the time.
#pragma once

#include <string>

namespace qn {

struct DateTime {
  int year = 0, month = 0, day = 0;      // month 1..12, day 1..31
  int hour = 0, minute = 0, second = 0;  // 24-hour clock
  int msec = 0;
  int weekday = 0;  // 1 = Monday .. 7 = Sunday
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime Now() const = 0;
};

// Formats with the program's date-format codes: "yyyy" year, "mm" month,
// "dd" day, "hh" hour, "nn" minute, "ss" second, "zzz" milliseconds; every
// other character is copied.
std::string FormatDateTime(const char* format, const DateTime& t);

}  // namespace qn
