// What the properties and login dialogs decide, for every skin of them:
// their designed sizes, the creation box, the backup time field's
// completeness, the pruning count's editability and the login defaults.
// The values themselves live in TqnEntryForm (settings/entry_form.h).
#pragma once

#include <string>
#include <vector>

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

// A destination of the settings as the copies page shows it.
struct TqnCopyPlace {
  std::string name;
  std::string place;      // a folder's path, a bucket's address
  bool prepared = false;  // it carries its marker (--init-destination)
};
// The copies page: every destination in the settings' order, ticked when
// copyTo names it, then the names copyTo gives that no destination has,
// ticked, so that nothing the administrator wrote is dropped unseen.
std::vector<TqnCopyChoice> CopyChoices(const std::vector<TqnCopyPlace>& places, const std::string& copyTo);
// "copy_to" from the ticks: copyTo itself while they are the ones it gave,
// so that its spelling and order stay as they were written.
std::string TakeCopyChoices(const std::vector<TqnCopyChoice>& choices, const std::string& copyTo);
// The destinations after names that before did not, and that carry no
// marker yet: each is offered its marker when the dialog is confirmed.
std::vector<TqnCopyPlace> NewUnpreparedPlaces(const std::vector<TqnCopyPlace>& places, const std::string& before,
                                              const std::string& after);
// The question that offers the marker.
std::string PrepareDestinationQuestion(const TqnCopyPlace& place);

// The login dialog's fields: an empty user name is offered as "SYSDBA", an
// empty password as the standard one.
void LoginDefaults(std::string& user, std::string& password);

}  // namespace qn
