// Local dates and times as Unix times, for monitoring systems that count in
// seconds since 1970 (UTC) while the program keeps its times local.
#pragma once

#include <cstdint>

#include "base/clock.h"

namespace qn::platform {

// The Unix time of a local date and time as the system's time zone reads
// it, daylight saving included; -1 when it names no time the zone has.
int64_t UnixTimeOfLocal(const DateTime& t);

}  // namespace qn::platform
