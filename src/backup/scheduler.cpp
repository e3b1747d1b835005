#include "backup/scheduler.h"

#include <charconv>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "settings/register.h"
#include "settings/settings_keys.h"

namespace qn {

namespace {

// A decimal number of the whole text, with an optional sign; false otherwise.
bool ReadNumber(const std::string& text, int& value) {
  if (text.empty()) return false;
  size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t k = i; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') return false;
  const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
  return std::from_chars(begin, text.data() + text.size(), value).ec == std::errc();
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

bool ValidWeekdays(const std::string& w) {
  if (w.size() != 7) return false;
  for (char c : w)
    if (c != '0' && c != '1') return false;
  return true;
}

}  // namespace

long DayNumber(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    throw Exception(Format("'%04d-%02d-%02d' is not a valid date", year, month, day));
  // Days since 0001-01-01 (proleptic Gregorian), plus one.
  long y = year - 1;
  long n = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) n += DaysInMonth(year, m);
  return n + day;
}

TqnScheduleStamp ParseLastRun(const std::string& text) {
  TqnScheduleStamp stamp;
  if (text.size() != 16) return stamp;
  int year, month, day, hour, minute;
  if (!ReadNumber(text.substr(0, 4), year) || !ReadNumber(text.substr(5, 2), month) ||
      !ReadNumber(text.substr(8, 2), day) || !ReadNumber(text.substr(11, 2), hour) ||
      !ReadNumber(text.substr(14, 2), minute))
    return stamp;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
    throw Exception(Format("'%02d:%02d' is not a valid time", hour, minute));
  stamp.day = DayNumber(year, month, day);
  stamp.minutes = hour * 60 + minute;
  return stamp;
}

std::string FormatLastRun(const DateTime& t) { return FormatDateTime("yyyy-mm-dd hh:nn", t); }

int FailureCoolDown(int interval) { return interval > 60 ? interval : 60; }

namespace {

// Minutes on one scale for the cool-down (days since 0001-01-01).
long long MinutesOf(const DateTime& t) { return DayNumber(t.year, t.month, t.day) * 1440LL + t.hour * 60 + t.minute; }

}  // namespace

void RunSchedulerPass(const TqnSchedulerContext& ctx) {
  const DateTime now = ctx.clock->Now();
  const int minutes = now.hour * 60 + now.minute;
  const long today = DayNumber(now.year, now.month, now.day);
  TqnNode* data = ctx.root->FindNode("data");
  // A backup serves the window, which may change the register meanwhile:
  // the walk goes by the names it found, and each entry is looked up again.
  std::vector<std::string> names;
  for (int i = 0; i < data->NodeCount(); ++i) names.push_back(data->Nodes(i)->Name());
  for (const std::string& name : names) {
    TqnNode* entry = data->FindNode(name);
    int number;
    if (!entry->Exists() || !ParseEntryName(name, number)) continue;
    TqnNode* backup = entry->FindNode("backup");
    if (ctx.failures->count(name)) {
      if (!ctx.failedAt) continue;
      auto failed = ctx.failedAt->find(name);
      if (failed == ctx.failedAt->end() ||
          MinutesOf(now) - failed->second < FailureCoolDown(ReadRawInteger(*entry, keys::kInterval)))
        continue;
      ctx.failures->erase(name);
      ctx.failedAt->erase(failed);
    }
    if (!ReadBoolean(*entry, keys::kAuto)) continue;
    const std::string weekdays = ReadText(*entry, keys::kWeekdays);
    if (!ValidWeekdays(weekdays) || now.weekday < 1 || now.weekday > 7 || weekdays[now.weekday - 1] != '1') continue;
    if (minutes < ReadRawInteger(*entry, keys::kTime)) continue;
    // The state lives in "stat", created on first look-up.
    TqnNode* numDone = nullptr;
    TqnNode* last = nullptr;
    ctx.change([&] {
      TqnNode* stat = backup->Node("stat");
      numDone = stat->Node("num_done");
      last = stat->Node("last");
    });
    TqnScheduleStamp previous;
    try {
      previous = ParseLastRun(last->Content().AsString(""));
      if (ctx.unreadable) ctx.unreadable->erase(name);
    } catch (const std::exception& e) {
      if (!ctx.unreadable) throw;
      // Reported once; it stays skipped until its state reads again.
      if (ctx.unreadable->insert(name).second && ctx.report)
        ctx.report(name + ": \"stat\" / \"last\" = \"" + last->Content().AsString("") + "\": " + e.what());
      continue;
    }
    if (previous.day > today) continue;
    bool due = false;
    if (previous.day < today) {
      due = true;
      ctx.change([&] { numDone->Content().SetInteger(0); });
    } else {
      const int wanted = ReadRawInteger(*entry, keys::kNum);
      const int interval = ReadRawInteger(*entry, keys::kInterval);
      const int done = numDone->Content().AsInteger(0);
      const int since = minutes - previous.minutes;
      due = wanted > 1 && done < wanted && since > 0 && since > interval;
    }
    if (!due) continue;
    try {
      ctx.backup(*entry);
    } catch (...) {
      // An entry removed meanwhile is not recorded as failing: a later
      // entry of the same name must not be skipped for it.
      if (data->FindNode(name)->Exists()) {
        ctx.failures->insert(name);
        if (ctx.failedAt) (*ctx.failedAt)[name] = MinutesOf(ctx.clock->Now());
      }
      throw;
    }
    const DateTime finished = ctx.clock->Now();
    // Nothing is written for an entry that has gone during its backup.
    TqnNode* after = data->FindNode(name);
    if (!after->Exists()) continue;
    ctx.change([&] {
      TqnNode* stat = after->Node("backup")->Node("stat");
      stat->Node("last")->Content().SetString(FormatLastRun(finished));
      TqnNode* count = stat->Node("num_done");
      count->Content().SetInteger(count->Content().AsInteger(0) + 1);
    });
    ctx.save();
  }
}

}  // namespace qn
