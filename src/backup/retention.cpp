#include "backup/retention.h"

#include <functional>
#include <set>

#include "settings/backup_state.h"

namespace qn {

namespace {

constexpr long long kDayMinutes = 24 * 60;

void Add(std::string& reasons, const char* word) {
  if (reasons.find(word) != std::string::npos) return;
  if (!reasons.empty()) reasons += ", ";
  reasons += word;
}

// The Monday of a stamp's week, as a day number (1970-01-01 was a Thursday).
std::string WeekKey(const std::string& stamp) {
  const long long day = StampMinutes(stamp) / kDayMinutes;
  return std::to_string(day - ((day % 7) + 10) % 7);
}

}  // namespace

std::vector<std::string> RetentionReasons(const std::vector<TqnRetentionItem>& items, const TqnRetentionPolicy& policy,
                                          const std::string& now) {
  std::vector<std::string> reasons(items.size());
  const long long nowMinutes = StampMinutes(now);
  auto verified = [&](size_t i) { return items[i].verification == "verified"; };

  // Newest first from here on.
  std::vector<size_t> order;
  for (size_t i = items.size(); i-- > 0;) order.push_back(i);

  bool newest = false, dayOld = false;
  for (size_t i : order) {
    if (!verified(i)) continue;
    if (!newest) {
      Add(reasons[i], "newest");
      newest = true;
    }
    const long long minutes = StampMinutes(items[i].start);
    if (!dayOld && minutes >= 0 && nowMinutes >= 0 && nowMinutes - minutes >= kDayMinutes) {
      Add(reasons[i], "day-old");
      dayOld = true;
    }
  }

  // A count of places: verified backups first, then, for the places left,
  // those that could not be checked. A failed proof takes no place.
  auto fill = [&](bool requested, int places, const char* word) {
    for (int pass = 0; pass < 2 && places > 0; ++pass)
      for (size_t i : order) {
        if (places <= 0) break;
        if (items[i].requested != requested) continue;
        if (pass == 0 ? !verified(i) : items[i].verification != "unverified") continue;
        Add(reasons[i], word);
        --places;
      }
  };
  fill(false, policy.rest, "last");
  fill(true, policy.keepRequested, "requested");

  // Generations: the newest verified scheduled or manual backup of each of
  // the last N periods that have one.
  auto generation = [&](int periods, const std::function<std::string(const std::string&)>& key, const char* word) {
    std::set<std::string> seen;
    for (size_t i : order) {
      if (static_cast<int>(seen.size()) >= periods) break;
      if (items[i].requested || !verified(i) || StampMinutes(items[i].start) < 0) continue;
      if (seen.insert(key(items[i].start)).second) Add(reasons[i], word);
    }
  };
  generation(
      policy.keepDaily, [](const std::string& s) { return s.substr(0, 10); }, "daily");
  generation(policy.keepWeekly, WeekKey, "weekly");
  generation(
      policy.keepMonthly, [](const std::string& s) { return s.substr(0, 7); }, "monthly");
  return reasons;
}

}  // namespace qn
