// Which of an entry's backups its retention keeps, and why. Generations by
// age (the newest verified backup of each of the last N days, weeks and
// months that have one), the newest "rest" scheduled or manual backups, a
// small separate allowance for the backups workstations ask for, and two
// copies that nothing removes: the newest verified backup and the newest
// verified one older than a day. Only verified backups fill a place that a
// verified one could fill; a backup whose proof failed fills none.
// Pure logic on the catalogue's times ("yyyy-mm-dd hh:nn:ss", local).
#pragma once

#include <string>
#include <vector>

namespace qn {

struct TqnRetentionPolicy {
  int rest = 10;          // "rest": the newest scheduled or manual backups
  int keepDaily = 0;      // "keep_daily"
  int keepWeekly = 0;     // "keep_weekly"
  int keepMonthly = 0;    // "keep_monthly"
  int keepRequested = 3;  // "keep_requested": workstations' backups
};

// One backup that retention may weigh: a file the program made for the
// entry, still there.
struct TqnRetentionItem {
  std::string start;         // "yyyy-mm-dd hh:nn:ss"
  bool requested = false;    // asked for by a workstation
  std::string verification;  // "verified", "unverified" or "failed"
};

// The reasons each item is kept ("" for one that may go), in the items'
// order; items are given oldest first. Reasons are words joined by ", ":
// "newest", "day-old", "last", "daily", "weekly", "monthly", "requested".
std::vector<std::string> RetentionReasons(const std::vector<TqnRetentionItem>& items, const TqnRetentionPolicy& policy,
                                          const std::string& now);

}  // namespace qn
