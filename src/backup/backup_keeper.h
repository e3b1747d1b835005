// What every backup the program makes goes through, whoever asked for it
// (the scheduler, the "Архивация" button, a workstation, the command line):
// a free-space check first, the backup, its proof by a restore into a
// scratch database, its line in the backup folder's catalogue, and, when
// the entry asks for it, the pruning of its older backups. The whole is
// one operation under the run's operation lock.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "backup/backup_catalogue.h"
#include "backup/backup_runner.h"
#include "backup/retention.h"
#include "storage/folder_storage.h"

namespace qn {

// What became of one backup, for the run's state, its alerts and the caller.
struct TqnBackupOutcome {
  std::string entry;  // the entry's element name
  std::string file;
  bool made = false;  // the backup file was written
  TqnVerifyResult verify;
  std::string message;          // the backup's failure, or why it is not verified
  std::string time;             // when it ended, "yyyy-mm-dd hh:nn:ss"
  bool verifyDisabled = false;  // the entry asks for no proof
  std::string catalogueError;   // the backup stands but its line could not be written
  TqnCatalogueRecord record{};  // its line in the catalogue
  // "verified", "unverified" or "failed" (a failed backup, a failed proof,
  // or a backup that could not be catalogued).
  std::string State() const;
  // Verified, or made where the entry asks for no proof: what a workstation
  // is told is a success.
  bool Proven() const;
};

// How retention weighs one line of the catalogue that is the entry's.
struct TqnRetentionLine {
  size_t record = 0;     // its index in the catalogue
  bool weighed = false;  // a file the program made for the entry, still there
  // For a weighed line the policy's reasons to keep it ("" when it may go);
  // otherwise why it is never deleted: "older-catalogue" (a line without
  // the entry's identity), "named" (a name the program did not choose, or
  // a file elsewhere), "shared" (another line names the same file).
  std::string reason;
};
// The entry's lines of a catalogue, oldest first, weighed by its policy.
std::vector<TqnRetentionLine> PlanRetention(const TqnBackupEntry& entry, const std::string& folder,
                                            const std::vector<TqnCatalogueRecord>& records, const DateTime& now);

// What retention goes by in a place: the counts, which names the program
// gives its backups there, and the time an object lock is weighed against.
struct TqnRetentionRules {
  TqnRetentionPolicy policy;
  // True for a name the program gives the entry's backups in the place
  // (and whether a workstation asked for it); nothing else is weighed.
  std::function<bool(const std::string& name, bool* requested)> isOwnName;
  int64_t nowUnix = 0;  // 0: the system's time
};
TqnRetentionRules EntryRetentionRules(const TqnBackupEntry& entry);
// The same in any place: folder is the prefix that makes a line's file a
// name in the place ("" where every name is bare). A locked object the
// policy would let go is kept, "locked", until its lock has ended; one the
// place cannot be asked about is kept, "unknown".
std::vector<TqnRetentionLine> PlanRetention(const TqnBackupEntry& entry, storage::Storage& place,
                                            const std::string& folder, const std::vector<TqnCatalogueRecord>& records,
                                            const DateTime& now, const TqnRetentionRules& rules);
// Deletes what the plan lets go, and their lines from the place's catalogue;
// how many. Nothing on a catalogue that cannot be read.
int PruneCatalogued(const TqnBackupEntry& entry, storage::Storage& place, const std::string& folder,
                    const DateTime& now, const TqnRetentionRules& rules, TqnLog& log);

// A local folder of an entry's backups; its writes' temporary names carry
// the entry's identity, so the next start sweeps what a kill left.
storage::FolderStorage EntryBackupFolder(const std::string& folder, const std::string& entryId);

class TqnBackupKeeper {
 public:
  TqnBackupKeeper(TqnBackupRunner& runner, TqnLog& log, const Clock& clock, std::string localHostName = {});
  void SetLocalHostName(const std::string& name) { localHostName_ = name; }
  // Told of every outcome, on the thread of the backup.
  void SetObserver(std::function<void(const TqnBackupOutcome&)> observer) { observer_ = std::move(observer); }
  // Told of a backup that was made, once the operation lock is released
  // (its copies leave from there, never holding up the next operation).
  void SetAfterRelease(std::function<void(const TqnBackupEntry&, const TqnBackupOutcome&)> after) {
    afterRelease_ = std::move(after);
  }

  // One backup of the entry into file, with all the steps above. A backup
  // that fails is recorded, reported to the observer, and its exception
  // propagates; a backup that was made returns its outcome, whatever the
  // proof found.
  TqnBackupOutcome Make(const TqnBackupEntry& entry, const std::string& file, TqnBackupJob job = {});
  // Proves a file of the entry (its newest catalogued backup when file is
  // empty) without touching the live database: a catalogued file must
  // still have its recorded SHA-256, then it is restored as after a backup.
  TqnVerifyResult VerifyFile(const TqnBackupEntry& entry, std::string& file);
  // Proves a file brought back from a destination by the counts of its
  // line there (its SHA-256 was checked on the way).
  TqnVerifyResult VerifyCopy(const TqnBackupEntry& entry, const std::string& file, const TqnCatalogueRecord& line);

  // The catalogue folder of an entry: its backup folder when it exists,
  // else the folder of the file (both with their separator).
  static std::string CatalogueFolder(const TqnBackupEntry& entry, const std::string& file);

 private:
  TqnBackupOutcome MakeHeld(const TqnBackupEntry& entry, const std::string& file, TqnBackupJob job);
  void CheckFreeSpace(const TqnBackupEntry& entry, const std::string& file, const std::string& folder);
  // Adds the record to the folder's catalogue; the failure's message, or "".
  std::string Record(storage::Storage& place, const std::string& folder, const TqnCatalogueRecord& record);
  void CheckWritable(const std::string& file, const std::string& entryId);
  void Prune(const TqnBackupEntry& entry, storage::Storage& place, const std::string& folder);
  bool Local(const TqnBackupEntry& entry) const;

  TqnBackupRunner& runner_;
  TqnLog& log_;
  const Clock& clock_;
  std::string localHostName_;
  std::function<void(const TqnBackupOutcome&)> observer_;
  std::function<void(const TqnBackupEntry&, const TqnBackupOutcome&)> afterRelease_;
};

// The SHA-256 of a file, 64 hexadecimal digits; throws when it cannot be read.
std::string FileSha256(const std::string& file);

}  // namespace qn
