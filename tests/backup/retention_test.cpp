// Retention by generations: a year and more of daily backups thinned as
// the keeper thins them after every proven run, workstations' requests
// that must not push out the schedule, and proofs that failed.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "backup/backup_runner.h"
#include "backup/retention.h"
#include "base/text.h"
#include "settings/backup_state.h"
#include "settings/entry_form.h"
#include "settings/settings_keys.h"

namespace qn {
namespace {

std::string Stamp(long long day, int hour, int minute) {
  // Day numbers from 1970-01-01, as StampMinutes counts them.
  long long z = day + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
  return Format("%04d-%02d-%02d %02d:%02d:00", y, m, d, hour, minute);
}

struct Kept {
  TqnRetentionItem item;
  std::string reasons;
};

// What pruning after each run leaves: the items, oldest first, that kept a reason.
void Prune(std::vector<Kept>& kept, const TqnRetentionPolicy& policy, const std::string& now) {
  std::vector<TqnRetentionItem> items;
  for (const Kept& k : kept) items.push_back(k.item);
  const std::vector<std::string> reasons = RetentionReasons(items, policy, now);
  std::vector<Kept> next;
  for (size_t i = 0; i < kept.size(); ++i)
    if (!reasons[i].empty()) next.push_back({kept[i].item, reasons[i]});
  kept = next;
}

TEST(Retention, FourHundredDaysOfDailyBackupsKeepExactlyTheGenerationsAskedForAndNoFailedOne) {
  TqnRetentionPolicy policy;
  policy.rest = 3;
  policy.keepDaily = 7;
  policy.keepWeekly = 5;
  policy.keepMonthly = 12;
  const long long first = StampMinutes("2025-11-01 00:00") / 1440;
  std::vector<Kept> kept;
  std::vector<std::string> verified;  // every verified backup ever made
  for (long long day = first; day < first + 400; ++day) {
    TqnRetentionItem item;
    item.start = Stamp(day, 6, 30);
    // Every seventh proof fails, every eleventh backup could not be checked.
    const long long n = day - first;
    item.verification = n % 7 == 3 ? "failed" : n % 11 == 5 ? "unverified" : "verified";
    if (item.verification == "verified") verified.push_back(item.start);
    kept.push_back({item, ""});
    // The keeper prunes only after a proven run.
    if (item.verification == "verified") Prune(kept, policy, Stamp(day, 6, 45));
  }
  // Worked out from the whole history: the newest of each period.
  std::set<std::string> expected;
  std::map<std::string, std::string> newestOfDay, newestOfWeek, newestOfMonth;
  for (const std::string& s : verified) {
    newestOfDay[s.substr(0, 10)] = s;
    const long long d = StampMinutes(s) / 1440;
    // Weeks counted from Monday 1970-01-05.
    newestOfWeek[Format("%08lld", (d - 4 + 700000) / 7)] = s;
    newestOfMonth[s.substr(0, 7)] = s;
  }
  auto lastOf = [&](const std::map<std::string, std::string>& periods, size_t n) {
    size_t k = 0;
    for (auto it = periods.rbegin(); it != periods.rend() && k < n; ++it, ++k) expected.insert(it->second);
  };
  lastOf(newestOfDay, 7);
  lastOf(newestOfWeek, 5);
  lastOf(newestOfMonth, 12);
  for (size_t i = verified.size() - 3; i < verified.size(); ++i) expected.insert(verified[i]);  // "rest"
  // The newest older than a day (the day before the last run's morning).
  expected.insert(verified[verified.size() - 2]);

  std::set<std::string> actual;
  for (const Kept& k : kept) {
    EXPECT_EQ(k.item.verification, "verified") << k.item.start << " kept for " << k.reasons;
    actual.insert(k.item.start);
  }
  EXPECT_EQ(actual, expected);
  EXPECT_GT(expected.size(), 12u);
}

TEST(Retention, TwentyRequestsInAMinuteKeepTheirOwnAllowanceAndPushOutNoScheduledBackup) {
  TqnRetentionPolicy policy;
  policy.rest = 4;
  std::vector<TqnRetentionItem> items;
  for (int day = 1; day <= 4; ++day) items.push_back({Format("2026-12-%02d 06:30:00", day), false, "verified"});
  for (int i = 0; i < 20; ++i) items.push_back({Format("2026-12-05 10:00:%02d", i), true, "verified"});
  const std::vector<std::string> reasons = RetentionReasons(items, policy, "2026-12-05 10:01:00");
  for (int day = 0; day < 4; ++day) EXPECT_NE(reasons[day], "") << items[day].start;
  int requestedKept = 0;
  for (size_t i = 4; i < items.size(); ++i) requestedKept += !reasons[i].empty();
  EXPECT_EQ(requestedKept, 3) << "the workstations' allowance is 3 by default";
  EXPECT_EQ(reasons.back(), "newest, requested");
  EXPECT_EQ(reasons[3], "day-old, last");
}

TEST(Retention, FailedProofsTakeNoPlaceAndUncheckedOnesOnlyThoseLeftOver) {
  TqnRetentionPolicy policy;
  policy.rest = 3;
  const std::vector<TqnRetentionItem> items = {
      {"2026-12-01 06:30:00", false, "verified"}, {"2026-12-02 06:30:00", false, "verified"},
      {"2026-12-03 06:30:00", false, "verified"}, {"2026-12-04 06:30:00", false, "unverified"},
      {"2026-12-05 06:30:00", false, "failed"},   {"2026-12-06 06:30:00", false, "failed"}};
  EXPECT_EQ(RetentionReasons(items, policy, "2026-12-06 07:00:00"),
            (std::vector<std::string>{"last", "last", "newest, day-old, last", "", "", ""}));
  policy.rest = 5;
  EXPECT_EQ(RetentionReasons(items, policy, "2026-12-06 07:00:00")[3], "last") << "a place no verified one needed";
}

// What a missing key means to the backups is what the dialog shows and
// stores: an older entry confirmed unchanged backs up and keeps as before.
TEST(Retention, AnEntryReadFromAnEmptyElementAndOneConfirmedUnchangedInTheDialogAgree) {
  TqnNode entry("db0000");
  for (const char* name : {"path", "user", "pwd", "caption"}) entry.Node(name);
  entry.Node("backup");
  const TqnBackupEntry before = ReadBackupEntry(entry);
  const int time = ReadRawInteger(entry, keys::kTime), num = ReadRawInteger(entry, keys::kNum),
            interval = ReadRawInteger(entry, keys::kInterval);
  StoreEntryForm(LoadEntryForm(entry, false, "H"), entry);
  const TqnBackupEntry after = ReadBackupEntry(entry);
  EXPECT_EQ(after.verify, before.verify);
  EXPECT_EQ(after.prune, before.prune);
  EXPECT_EQ(after.rest, before.rest);
  EXPECT_EQ(after.keepDaily, before.keepDaily);
  EXPECT_EQ(after.keepWeekly, before.keepWeekly);
  EXPECT_EQ(after.keepMonthly, before.keepMonthly);
  EXPECT_EQ(after.keepRequested, before.keepRequested);
  EXPECT_EQ(after.verifyFolder, before.verifyFolder);
  EXPECT_EQ(ReadRawInteger(entry, keys::kTime), time);
  EXPECT_EQ(ReadRawInteger(entry, keys::kNum), num);
  EXPECT_EQ(ReadRawInteger(entry, keys::kInterval), interval);
  EXPECT_FALSE(ReadBoolean(entry, keys::kAuto)) << "the weekdays the dialog proposes act only with this on";
}

}  // namespace
}  // namespace qn
