// --status --nagios: the output of a Nagios or Icinga plugin. One line of
// at most 80 characters for the service's state, then "|" and the
// performance data, three figures per entry with automatic backups:
//
//   'db0000_age'=10800s;129600;;0      age of the newest verified backup,
//                                      warning at the stale threshold
//   'db0000_size'=52428800B;;;0        that backup's size
//   'db0000_restore'=12.345s;;;0       how long its proving restore took
//
// ("U" where a figure is not known), then one line per entry for the long
// output. The exit code is --status's: 0 OK, 1 WARNING, 2 CRITICAL,
// 3 UNKNOWN. UTF-8.
#pragma once

#include <string>

#include "backup/status_figures.h"

namespace qn {

inline constexpr size_t kNagiosLineLimit = 80;

std::string NagiosStatus(const TqnStatusSnapshot& snapshot);
// The UNKNOWN answer when the state cannot be read (why in Windows-1251).
std::string NagiosUnknown(const std::string& why);

}  // namespace qn
