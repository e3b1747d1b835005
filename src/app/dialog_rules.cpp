#include "app/dialog_rules.h"

#include <algorithm>

#include "base/text.h"
#include "settings/register.h"
#include "settings/settings_keys.h"

namespace qn {

namespace {
bool Digit(char c) { return c >= '0' && c <= '9'; }

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}
}  // namespace

bool CreateBoxShown(const TqnEntryForm& form) { return form.creationMode; }

bool CreateBoxTicked(const TqnEntryForm& form) { return form.creationMode && form.createDatabase; }

void TakeCreateBox(TqnEntryForm& form, bool ticked) {
  if (form.creationMode) form.createDatabase = ticked;
}

bool BackupTimeComplete(const std::string& shown) {
  return shown.size() == static_cast<size_t>(kBackupTimeLength) && (Digit(shown[0]) || shown[0] == ' ') &&
         Digit(shown[1]) && shown[2] == ':' && Digit(shown[3]) && Digit(shown[4]);
}

void LoginDefaults(std::string& user, std::string& password) {
  if (user.empty()) user = kDefaultUser;
  if (password.empty()) password = kDefaultPassword;
}

std::vector<TqnCopyChoice> CopyChoices(const std::vector<TqnCopyPlace>& places, const std::string& copyTo) {
  const std::vector<std::string> named = SplitNames(copyTo);
  std::vector<TqnCopyChoice> choices;
  std::vector<std::string> shown;
  for (const TqnCopyPlace& p : places) {
    if (Contains(shown, p.name)) continue;
    shown.push_back(p.name);
    std::string label = p.name + " - " + p.place;
    if (!p.prepared) label += Win1251(" (не подготовлено)");
    choices.push_back({p.name, label, Contains(named, p.name)});
  }
  for (const std::string& name : named)
    if (!Contains(shown, name)) choices.push_back({name, name + Win1251(" - нет в настройках"), true});
  return choices;
}

std::string TakeCopyChoices(const std::vector<TqnCopyChoice>& choices, const std::string& copyTo) {
  std::vector<std::string> ticked;
  for (const TqnCopyChoice& c : choices)
    if (c.ticked) ticked.push_back(c.name);
  std::vector<std::string> before = SplitNames(copyTo), after = ticked;
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  if (before == after) return copyTo;
  std::string text;
  for (const std::string& name : ticked) text += (text.empty() ? "" : ",") + name;
  return text;
}

std::vector<TqnCopyPlace> NewUnpreparedPlaces(const std::vector<TqnCopyPlace>& places, const std::string& before,
                                              const std::string& after) {
  const std::vector<std::string> was = SplitNames(before), now = SplitNames(after);
  std::vector<TqnCopyPlace> result;
  for (const TqnCopyPlace& p : places)
    if (!p.prepared && Contains(now, p.name) && !Contains(was, p.name)) result.push_back(p);
  return result;
}

std::string PrepareDestinationQuestion(const TqnCopyPlace& place) {
  return Format(Win1251("Место хранения \"%s\" (%s) ещё не подготовлено: на нём нет метки программы, и копии туда "
                        "не пишутся, чтобы не заполнить пустую точку подключения неподключённого диска. Место "
                        "подключено и выбрано верно? Записать на него метку сейчас?")
                    .c_str(),
                place.name.c_str(), place.place.c_str());
}

}  // namespace qn
