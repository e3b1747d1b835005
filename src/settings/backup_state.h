// What the run knows of each entry's backups, kept in the entry beside its
// schedule so that the window, the service and the command line read the
// same: under "backup" / "result",
//
//   "state"    "verified", "unverified" or "failed": the latest backup
//   "time"     when it ended, "yyyy-mm-dd hh:nn:ss"
//   "verified" when the latest verified backup ended
//   "message"  why the latest is failed or not verified
//   "alert"    the state last announced ("failed", "stale" or empty)
//
// and the health that monitoring reads from it: an entry with automatic
// backups is stale when its latest verified backup is older than
// "alerts" / "stale_hours" (36 when missing), or when it has none.
#pragma once

#include <string>
#include <vector>

#include "base/clock.h"
#include "settings/settings_keys.h"
#include "xml/xml_dom.h"

namespace qn {

struct TqnEntryBackupState {
  std::string state;
  std::string time;
  std::string verified;
  std::string message;
  std::string alert;
};
TqnEntryBackupState ReadBackupState(const TqnNode& entry);
// Writes the keys (creating them); call inside a settings change.
void WriteBackupState(TqnNode& entry, const TqnEntryBackupState& state);

// What the run knows of an entry's copies at one destination, under
// "backup" / "copies", one element a destination ("c0", "c1", ...):
//
//   "name"    the destination's name
//   "state"   "copied" or "failed": the latest copy
//   "time"    when it ended
//   "copied"  when the latest good copy ended
//   "file"    the latest copy's backup
//   "message" why the latest failed
//   "alert"   "failed" once that was announced, else empty
struct TqnCopyState {
  std::string name;
  std::string state;
  std::string time;
  std::string copied;
  std::string file;
  std::string message;
  std::string alert;
};
std::vector<TqnCopyState> ReadCopyStates(const TqnNode& entry);
// The state for one destination ("" state when it has none yet).
TqnCopyState ReadCopyState(const TqnNode& entry, const std::string& destination);
// Writes the state of its destination (creating it); inside a settings change.
void WriteCopyState(TqnNode& entry, const TqnCopyState& state);
// The destinations of "backup/copy_to" whose latest copy failed.
std::vector<std::string> FailingCopies(const TqnNode& entry);
// For the list's column: "копия в \"nas\" не сделана" for each, joined by
// ", "; "" when none fails.
std::string FailingCopiesText(const TqnNode& entry);

inline constexpr int kDefaultStaleHours = keys::kStaleHours.MissingInteger();
int StaleHours(const TqnNode& root);

// Minutes since a fixed day for a "yyyy-mm-dd hh:nn[:ss]" text, -1 when it
// is not one; and for a date and time.
long long StampMinutes(const std::string& stamp);
// The date and time of such a text (seconds 0 when it has none or they
// are no number); false when it is not one.
bool ParseStamp(const std::string& stamp, DateTime& t);
long long DateTimeMinutes(const DateTime& t);

// The health of an entry, worst last: the exit codes of --status.
enum class TqnBackupHealth { Ok = 0, Stale = 1, Failed = 2 };
const char* HealthWord(TqnBackupHealth health);  // "ok", "stale", "failed"

// The health of an entry's copies at one destination it names.
struct TqnCopyStatus {
  std::string destination;
  std::string lastCopied;  // "" when none
  TqnBackupHealth health = TqnBackupHealth::Ok;
  std::string message;
};

struct TqnStatusLine {
  std::string key;
  std::string caption;
  std::string lastVerified;  // "" when none
  TqnBackupHealth health = TqnBackupHealth::Ok;
  std::string message;
  // One per destination of "backup" / "copy_to": failed when its latest
  // copy failed, stale when its latest good copy is older than the limit
  // (or there is none while the entry has a verified backup); the entry's
  // health is the worst of its own and theirs.
  std::vector<TqnCopyStatus> copies{};
};
// One line per entry with automatic backups, in register order.
std::vector<TqnStatusLine> BackupStatus(const TqnNode& root, const DateTime& now);
TqnBackupHealth WorstHealth(const std::vector<TqnStatusLine>& lines);

// The list's column: the latest backup's age and state, as a person reads
// it on the day: "сегодня 06:30, проверена", "вчера 23:10, ошибка",
// "3 дня назад — не проверена", the date for one older than a month or
// later than today ("02.11.2026 — проверена"); "" when there has been
// none.
std::string LastBackupText(const TqnEntryBackupState& state, const DateTime& now);

}  // namespace qn
