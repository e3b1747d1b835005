// What the properties and login dialogs decide, for every skin of them:
// their designed sizes, the creation box, the backup time field's
// completeness, the pruning count's editability and the login defaults.
// The values themselves live in TqnEntryForm (settings/entry_form.h).
#pragma once

#include <string>

#include "settings/entry_form.h"

namespace qn {

// Client areas as designed; a skin may grow them for larger fonts.
constexpr int kDataClientWidth = 558;
constexpr int kDataClientHeight = 299;
constexpr int kLoginClientWidth = 232;
constexpr int kLoginClientHeight = 135;
// The page that holds the backup time ("Архивация").
constexpr int kBackupPageIndex = 1;
// The backup time field's five places: an optional first digit, one more,
// ":", two digits.
constexpr int kBackupTimeLength = 5;

// The creation box: shown in creation mode only, ticked as the form says.
bool CreateBoxShown(const TqnEntryForm& form);
bool CreateBoxTicked(const TqnEntryForm& form);
// "ОК": the box's state goes into the form, in creation mode only.
void TakeCreateBox(TqnEntryForm& form, bool ticked);

// The backup time field as shown, an unfilled place as a blank: complete
// when only the first place is left blank, if any. "ОК" is refused while it
// is incomplete (the field takes the focus on its page), so that a partly
// typed time is never stored as another time.
bool BackupTimeComplete(const std::string& shown);

// The number of backups to keep is editable only while its box is ticked.
inline bool RestEditable(bool pruneTicked) { return pruneTicked; }

// The login dialog's fields: an empty user name is offered as "SYSDBA", an
// empty password as the standard one.
void LoginDefaults(std::string& user, std::string& password);

}  // namespace qn
