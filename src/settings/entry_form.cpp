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
  using namespace keys;
  TqnEntryForm f;
  f.identifier = entry.Name();
  f.connAddress = DigitsOnly(entry.Name()) + "@" + localHostName;
  f.caption = ReadText(entry, kCaption);
  f.path = ReadText(entry, kPath);
  f.user = ReadText(entry, kUser);
  f.password = ReadText(entry, kPassword);
  f.sendPassword = !ReadBoolean(entry, kHidePassword);
  f.autoBackup = ReadBoolean(entry, kAuto);
  f.backupPath = ReadText(entry, kBackupPath);
  // The dialog proposes Monday to Friday where the value is missing or
  // malformed, where the schedule reads no day at all.
  std::string days = KeyNode(entry, kWeekdays)->Content().AsString(kDefaultWeekdays);
  if (days.size() != 7) days = kDefaultWeekdays;
  for (size_t i = 0; i < 7; ++i) f.weekdays[i] = days[i] != '0';
  f.timeText = FormatBackupTime(ReadRawInteger(entry, kTime));
  f.num = ReadInteger(entry, kNum);
  f.interval = ReadInteger(entry, kInterval);
  f.rest = ReadInteger(entry, kRest);
  f.verifyBackup = ReadBoolean(entry, kVerify);
  f.prune = ReadBoolean(entry, kPrune);
  f.keepDaily = ReadInteger(entry, kKeepDaily);
  f.keepWeekly = ReadInteger(entry, kKeepWeekly);
  f.keepMonthly = ReadInteger(entry, kKeepMonthly);
  f.keepRequested = ReadInteger(entry, kKeepRequested);
  f.copyTo = ReadText(entry, kCopyTo);
  f.creationMode = creationMode;
  f.createDatabase = creationMode;
  return f;
}

void StoreEntryForm(const TqnEntryForm& form, TqnNode& entry) {
  using namespace keys;
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
  WriteInteger(entry, kTime, ParseBackupTime(form.timeText));
  WriteInteger(entry, kNum, form.num);
  WriteInteger(entry, kInterval, form.interval);
  WriteInteger(entry, kRest, form.rest);
  WriteOptionalBoolean(entry, kVerify, form.verifyBackup);
  WriteOptionalBoolean(entry, kPrune, form.prune);
  WriteOptionalInteger(entry, kKeepDaily, form.keepDaily);
  WriteOptionalInteger(entry, kKeepWeekly, form.keepWeekly);
  WriteOptionalInteger(entry, kKeepMonthly, form.keepMonthly);
  WriteOptionalInteger(entry, kKeepRequested, form.keepRequested);
  // An entry that never named a destination keeps its file as it was.
  if (!form.copyTo.empty() || KeyNode(entry, kCopyTo)->Exists())
    backup->Node("copy_to")->Content().SetString(form.copyTo);
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
  take(f.copyTo, opened.copyTo, confirmed.copyTo);
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
