#include "base/clock.h"

#include <cstring>

#include "base/text.h"

namespace qn {

std::string FormatDateTime(const char* format, const DateTime& t) {
  std::string out;
  for (const char* p = format; *p;) {
    if (std::strncmp(p, "yyyy", 4) == 0) {
      out += Format("%04d", t.year);
      p += 4;
    } else if (std::strncmp(p, "zzz", 3) == 0) {
      out += Format("%03d", t.msec);
      p += 3;
    } else if (std::strncmp(p, "mm", 2) == 0) {
      out += Format("%02d", t.month);
      p += 2;
    } else if (std::strncmp(p, "dd", 2) == 0) {
      out += Format("%02d", t.day);
      p += 2;
    } else if (std::strncmp(p, "hh", 2) == 0) {
      out += Format("%02d", t.hour);
      p += 2;
    } else if (std::strncmp(p, "nn", 2) == 0) {
      out += Format("%02d", t.minute);
      p += 2;
    } else if (std::strncmp(p, "ss", 2) == 0) {
      out += Format("%02d", t.second);
      p += 2;
    } else {
      out += *p++;
    }
  }
  return out;
}

}  // namespace qn
