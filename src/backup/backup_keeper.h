// What every backup the program makes goes through, whoever asked for it
// (the scheduler, the "Архивация" button, a workstation, the command line):
// a free-space check first, the backup, its proof by a restore into a
// scratch database, its line in the backup folder's catalogue, and, when
// the entry asks for it, the pruning of its older backups. The whole is
// one operation under the run's operation lock.
#pragma once

#include <functional>
#include <string>

#include "backup/backup_catalogue.h"
#include "backup/backup_runner.h"

namespace qn {

// What became of one backup, for the run's state, its alerts and the caller.
struct TqnBackupOutcome {
  std::string entry;    // the entry's element name
  std::string file;
  bool made = false;    // the backup file was written
  TqnVerifyResult verify;
  std::string message;  // the backup's failure, or why it is not verified
  std::string time;     // when it ended, "yyyy-mm-dd hh:nn:ss"
  // "verified", "unverified" or "failed" (a failed backup or a failed proof).
  std::string State() const;
};

class TqnBackupKeeper {
 public:
  TqnBackupKeeper(TqnBackupRunner& runner, TqnLog& log, const Clock& clock, std::string localHostName = {});
  void SetLocalHostName(const std::string& name) { localHostName_ = name; }
  // Told of every outcome, on the thread of the backup.
  void SetObserver(std::function<void(const TqnBackupOutcome&)> observer) { observer_ = std::move(observer); }

  // One backup of the entry into file, with all the steps above. A backup
  // that fails is recorded, reported to the observer, and its exception
  // propagates; a backup that was made returns its outcome, whatever the
  // proof found.
  TqnBackupOutcome Make(const TqnBackupEntry& entry, const std::string& file, TqnBackupJob job = {});
  // Proves a file of the entry (its newest catalogued backup when file is
  // empty) without touching the live database: a catalogued file must
  // still have its recorded SHA-256, then it is restored as after a backup.
  TqnVerifyResult VerifyFile(const TqnBackupEntry& entry, std::string& file);

  // The catalogue folder of an entry: its backup folder when it exists,
  // else the folder of the file (both with their separator).
  static std::string CatalogueFolder(const TqnBackupEntry& entry, const std::string& file);

 private:
  void CheckFreeSpace(const TqnBackupEntry& entry, const std::string& file, const std::string& folder);
  void Record(const std::string& folder, const TqnCatalogueRecord& record);
  void Prune(const TqnBackupEntry& entry, const std::string& folder);
  bool Local(const TqnBackupEntry& entry) const;

  TqnBackupRunner& runner_;
  TqnLog& log_;
  const Clock& clock_;
  std::string localHostName_;
  std::function<void(const TqnBackupOutcome&)> observer_;
};

// The SHA-256 of a file, 64 hexadecimal digits; throws when it cannot be read.
std::string FileSha256(const std::string& file);

}  // namespace qn
