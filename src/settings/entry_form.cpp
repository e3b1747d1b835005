#include "settings/entry_form.h"

#include "base/text.h"
#include "firebird/fb_paths.h"
#include "settings/register.h"

namespace qn {

namespace {

// A two-character part of the time text: leading blanks ignored, anything
// that is not a number counts as 0.
int TimePart(const std::string& part) {
  size_t i = 0;
  while (i < part.size() && part[i] == ' ') ++i;
  if (i == part.size()) return 0;
  int v = 0;
  for (; i < part.size(); ++i) {
    if (part[i] < '0' || part[i] > '9') return 0;
    v = v * 10 + (part[i] - '0');
  }
  return v;
}

}  // namespace

int ClampToLimits(int value, const TqnSpinLimits& limits) {
  if (value < limits.min) return limits.min;
  if (value > limits.max) return limits.max;
  return value;
}

std::string FormatBackupTime(int minutes) {
  if (minutes < 0) minutes = 0;
  return Format("%02d:%02d", (minutes / 60) % 100, minutes % 60);
}

int ParseBackupTime(const std::string& text) {
  if (text.size() != 5) return 0;
  return TimePart(text.substr(0, 2)) * 60 + TimePart(text.substr(3, 2));
}

TqnEntryForm LoadEntryForm(const TqnNode& entry, bool creationMode, const std::string& localHostName) {
  TqnEntryForm f;
  f.identifier = entry.Name();
  f.connAddress = DigitsOnly(entry.Name()) + "@" + localHostName;
  f.caption = entry.FindNode("caption")->Content().AsString("");
  f.path = entry.FindNode("path")->Content().AsString("");
  f.user = entry.FindNode("user")->Content().AsString("");
  f.password = entry.FindNode("pwd")->Content().AsString("");
  f.sendPassword = !entry.FindNode("hidepwd")->Content().AsBoolean(false);
  const TqnNode* backup = entry.FindNode("backup");
  f.autoBackup = backup->FindNode("auto")->Content().AsBoolean(false);
  f.backupPath = backup->FindNode("path")->Content().AsString("");
  std::string days = backup->FindNode("weekdays")->Content().AsString(kDefaultWeekdays);
  if (days.size() != 7) days = kDefaultWeekdays;
  for (size_t i = 0; i < 7; ++i) f.weekdays[i] = days[i] != '0';
  f.timeText = FormatBackupTime(backup->FindNode("time")->Content().AsInteger(kDefaultBackupTime));
  f.num = ClampToLimits(backup->FindNode("num")->Content().AsInteger(kDefaultBackupNum), kNumLimits);
  f.interval =
      ClampToLimits(backup->FindNode("interval")->Content().AsInteger(kDefaultBackupInterval), kIntervalLimits);
  f.rest = ClampToLimits(backup->FindNode("rest")->Content().AsInteger(kDefaultBackupRest), kRestLimits);
  f.verifyBackup = backup->FindNode("verify")->Content().AsBoolean(true);
  f.prune = backup->FindNode("prune")->Content().AsBoolean(false);
  f.keepDaily = ClampToLimits(backup->FindNode("keep_daily")->Content().AsInteger(0), kKeepLimits);
  f.keepWeekly = ClampToLimits(backup->FindNode("keep_weekly")->Content().AsInteger(0), kKeepLimits);
  f.keepMonthly = ClampToLimits(backup->FindNode("keep_monthly")->Content().AsInteger(0), kKeepLimits);
  f.keepRequested =
      ClampToLimits(backup->FindNode("keep_requested")->Content().AsInteger(kDefaultKeepRequested), kKeepLimits);
  f.creationMode = creationMode;
  f.createDatabase = creationMode;
  return f;
}

void StoreEntryForm(const TqnEntryForm& form, TqnNode& entry) {
  entry.FindNode("caption")->Content().SetString(form.caption);
  entry.FindNode("path")->Content().SetString(form.path);
  entry.FindNode("user")->Content().SetString(form.user);
  entry.FindNode("pwd")->Content().SetString(form.password);
  entry.Node("hidepwd")->Content().SetBoolean(!form.sendPassword);
  TqnNode* backup = entry.Node("backup");
  backup->Node("auto")->Content().SetBoolean(form.autoBackup);
  backup->Node("path")->Content().SetString(form.backupPath);
  std::string days;
  for (bool d : form.weekdays) days += d ? '1' : '0';
  backup->Node("weekdays")->Content().SetString(days);
  backup->Node("time")->Content().SetInteger(ParseBackupTime(form.timeText));
  backup->Node("num")->Content().SetInteger(form.num);
  backup->Node("interval")->Content().SetInteger(form.interval);
  backup->Node("rest")->Content().SetInteger(form.rest);
  // Written once they are set or differ from what a missing key means, so
  // that confirming an older entry unchanged leaves its file as it was.
  if (backup->FindNode("verify")->Exists() || !form.verifyBackup)
    backup->Node("verify")->Content().SetBoolean(form.verifyBackup);
  if (backup->FindNode("prune")->Exists() || form.prune) backup->Node("prune")->Content().SetBoolean(form.prune);
  auto keep = [&](const char* key, int value, int missing) {
    if (backup->FindNode(key)->Exists() || value != missing) backup->Node(key)->Content().SetInteger(value);
  };
  keep("keep_daily", form.keepDaily, 0);
  keep("keep_weekly", form.keepWeekly, 0);
  keep("keep_monthly", form.keepMonthly, 0);
  keep("keep_requested", form.keepRequested, kDefaultKeepRequested);
}

TqnEntryForm MergeEntryForm(const TqnEntryForm& opened, const TqnEntryForm& confirmed, const TqnEntryForm& current) {
  TqnEntryForm f = current;
  auto take = [](auto& field, const auto& before, const auto& after) {
    if (after != before) field = after;
  };
  take(f.path, opened.path, confirmed.path);
  take(f.caption, opened.caption, confirmed.caption);
  take(f.user, opened.user, confirmed.user);
  take(f.password, opened.password, confirmed.password);
  take(f.sendPassword, opened.sendPassword, confirmed.sendPassword);
  take(f.autoBackup, opened.autoBackup, confirmed.autoBackup);
  take(f.backupPath, opened.backupPath, confirmed.backupPath);
  take(f.weekdays, opened.weekdays, confirmed.weekdays);
  take(f.timeText, opened.timeText, confirmed.timeText);
  take(f.num, opened.num, confirmed.num);
  take(f.interval, opened.interval, confirmed.interval);
  take(f.rest, opened.rest, confirmed.rest);
  take(f.verifyBackup, opened.verifyBackup, confirmed.verifyBackup);
  take(f.prune, opened.prune, confirmed.prune);
  take(f.keepDaily, opened.keepDaily, confirmed.keepDaily);
  take(f.keepWeekly, opened.keepWeekly, confirmed.keepWeekly);
  take(f.keepMonthly, opened.keepMonthly, confirmed.keepMonthly);
  take(f.keepRequested, opened.keepRequested, confirmed.keepRequested);
  f.createDatabase = confirmed.createDatabase;
  return f;
}

std::string PathForPickedFile(const std::string& file, const std::string& fb30ServerAddress) {
  std::string lower = LowerCase(file);
  if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".fd3") == 0) return fb30ServerAddress + ":" + file;
  return "localhost:" + file;
}

void SetDefaultCredentials(TqnEntryForm& form) {
  form.user = kDefaultUser;
  form.password = kDefaultPassword;
  form.sendPassword = true;
}

}  // namespace qn
