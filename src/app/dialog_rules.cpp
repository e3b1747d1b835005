#include "app/dialog_rules.h"

#include "settings/register.h"

namespace qn {

namespace {
bool Digit(char c) { return c >= '0' && c <= '9'; }
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

}  // namespace qn
