// The values of the database properties dialog, read from an entry and
// stored back, so that the dialog itself only shows and edits them.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "settings/settings_keys.h"
#include "xml/xml_dom.h"

namespace qn {

// A destination offered on the copies page: ticked when the entry's
// backups are copied there.
struct TqnCopyChoice {
  std::string name;
  std::string label;  // what the page shows: the name and the place
  bool ticked = false;
};

struct TqnEntryForm {
  std::string identifier;   // the element name, e.g. "db0000"
  std::string connAddress;  // DigitsOnly(name) "@" local host name
  std::string path;
  std::string caption;
  std::string user;
  std::string password;
  bool sendPassword = true;  // the inverse of "hidepwd"
  bool autoBackup = false;
  std::string backupPath;
  std::array<bool, 7> weekdays{};  // Monday first
  std::string timeText;            // "hh:nn"
  int num = 1;                     // 1..100
  int interval = 60;               // 5..1440, step 5
  int rest = 10;                   // 1..30000
  bool verifyBackup = true;        // "verify": each backup proven by a restore
  bool prune = false;              // "prune": thin out older backups by the keys below
  int keepDaily = 0;               // "keep_daily": one verified backup of each of the last N days
  int keepWeekly = 0;              // "keep_weekly"
  int keepMonthly = 0;             // "keep_monthly"
  int keepRequested = 3;           // "keep_requested": workstations' backups kept
  std::string copyTo;              // "copy_to": destinations' names, comma-separated
  // The copies page, made from copyTo and the settings' destinations by
  // the core before the dialog opens; its ticks become copyTo again.
  std::vector<TqnCopyChoice> copies;
  bool creationMode = false;  // shows the "create" box
  bool createDatabase = false;
};

// Limits of the up-down controls.
struct TqnSpinLimits {
  int min, max, step;
};
// The limits of a key of the settings table.
constexpr TqnSpinLimits SpinLimits(const TqnSettingKey& key) { return {key.min, key.max, key.step}; }
constexpr TqnSpinLimits kNumLimits = SpinLimits(keys::kNum);
constexpr TqnSpinLimits kIntervalLimits = SpinLimits(keys::kInterval);
constexpr TqnSpinLimits kRestLimits = SpinLimits(keys::kRest);
constexpr TqnSpinLimits kKeepLimits = SpinLimits(keys::kKeepDaily);
// An up-down control does not wrap: a value outside is held at the limit.
int ClampToLimits(int value, const TqnSpinLimits& limits);

TqnEntryForm LoadEntryForm(const TqnNode& entry, bool creationMode, const std::string& localHostName);
// Writes the form into the entry. "caption", "path", "user" and "pwd" go
// into the elements the entry has; a missing one fails with "setting value
// for not exists node", leaving what was written before in place.
void StoreEntryForm(const TqnEntryForm& form, TqnNode& entry);

// The form to store after a dialog that was open for a while: what the
// person changed (confirmed differs from opened) comes from confirmed, the
// rest from current, the entry as it is now. A change made meanwhile by
// the program (a conversion switch of the path) is thus not undone.
TqnEntryForm MergeEntryForm(const TqnEntryForm& opened, const TqnEntryForm& confirmed, const TqnEntryForm& current);

// Minutes after midnight as "hh:nn" (390 -> "06:30").
std::string FormatBackupTime(int minutes);
// "hh:nn" back to minutes; a part that is not a number counts as 0, leading
// blanks of a part are ignored, a text of another length gives 0.
int ParseBackupTime(const std::string& text);

// The path for a file picked in the path dialog: a ".fd3" file goes to the
// Firebird 3.0 server address, anything else to "localhost:".
std::string PathForPickedFile(const std::string& file, const std::string& fb30ServerAddress);

// "Set default values": the standard user and password, password sent.
void SetDefaultCredentials(TqnEntryForm& form);

}  // namespace qn
