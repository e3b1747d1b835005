#include "backup/status_figures.h"

#include "backup/backup_catalogue.h"
#include "backup/backup_names.h"
#include "platform/local_time.h"
#include "settings/register.h"
#include "settings/settings_keys.h"

namespace qn {

int64_t StampUnixTime(const std::string& stamp) {
  DateTime t;
  if (!ParseStamp(stamp, t)) return -1;
  return platform::UnixTimeOfLocal(t);
}

TqnStatusSnapshot StatusSnapshot(const TqnNode& root, const DateTime& now) {
  TqnStatusSnapshot snapshot;
  snapshot.staleHours = StaleHours(root);
  const std::vector<TqnStatusLine> lines = BackupStatus(root, now);
  snapshot.exitCode = static_cast<int>(WorstHealth(lines));
  const int64_t nowTime = platform::UnixTimeOfLocal(now);
  for (const TqnStatusLine& line : lines) {
    const TqnNode* entry = RegisterOf(root)->FindNode(line.key);
    const TqnEntryBackupState state = ReadBackupState(*entry);
    TqnStatusFigures f;
    f.line = line;
    f.lastState = state.state;
    f.lastBackupTime = StampUnixTime(state.time);
    f.lastVerifiedTime = StampUnixTime(state.verified);
    // A clock set back makes no negative age.
    if (f.lastVerifiedTime >= 0 && nowTime >= 0)
      f.verifiedAgeSeconds = nowTime > f.lastVerifiedTime ? nowTime - f.lastVerifiedTime : 0;
    f.backupFolder = NormalizeBackupFolder(ReadText(*entry, keys::kBackupPath));
    f.entryId = ReadText(*entry, keys::kUid);
    snapshot.entries.push_back(f);
  }
  return snapshot;
}

void AddCatalogueFigures(TqnStatusSnapshot& snapshot) {
  for (TqnStatusFigures& f : snapshot.entries) {
    // The catalogue lists the backups in the order they were made.
    for (const TqnCatalogueRecord& r : ReadCatalogueForLooking(f.backupFolder)) {
      if (!RecordOfEntry(r, f.line.key, f.entryId) || r.outcome != "ok" || r.verification != "verified") continue;
      f.sizeBytes = r.size;
      f.restoreMs = r.restoreMs;
    }
  }
}

TqnStatusSnapshot ReadStatusFigures(const TqnNode& root, const DateTime& now) {
  TqnStatusSnapshot snapshot = StatusSnapshot(root, now);
  AddCatalogueFigures(snapshot);
  return snapshot;
}

}  // namespace qn
