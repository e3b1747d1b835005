// One server backup or restore of one database entry through the Firebird
// services manager, on the run's main connection.
//
// Threads: operations come from the main thread (manual, scheduled and UDP
// requests) and from TCP connection threads (remote backups). All of them
// share the main connection, so the run's operation lock is held for a whole
// operation: operations never overlap, and a second operation waits for the
// first (on the main thread the window keeps being served while it waits).
// The user
// interface (busy indicator, event processing) is touched only on the
// thread that created the runner. Entry values are copied before the call
// (TqnBackupEntry), so no settings lock is held while a backup runs.
//
// Every operation fails by throwing qn::Exception with the message text.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/operation_lock.h"
#include "app/user_interface.h"
#include "backup/dump_restore_hooks.h"
#include "backup/record_counts.h"
#include "base/clock.h"
#include "dump/dump_loader.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_services.h"
#include "ipc/log.h"
#include "xml/xml_dom.h"

namespace qn {

// What an operation reads of a database entry.
struct TqnBackupEntry {
  std::string name;            // the element name, e.g. "db0000"
  std::string path;            // "path", decoded
  std::string user;            // "user", decoded
  std::string password;        // "pwd", decoded
  std::string backupFolder;    // "backup" / "path", decoded
  bool verify = true;          // "backup" / "verify": every backup restored once to prove it
  std::string verifyFolder{};  // "backup" / "verify_path": where the scratch copy goes ("" beside the backup)
  bool prune = false;          // "backup" / "prune": thin out the program's older backups
  int rest = 10;               // "backup" / "rest"
  int keepDaily = 0;           // "backup" / "keep_daily", "keep_weekly", "keep_monthly"
  int keepWeekly = 0;
  int keepMonthly = 0;
  int keepRequested = 3;              // "backup" / "keep_requested": workstations' backups
  std::string id{};                   // the entry's identity ("uid")
  std::vector<std::string> copyTo{};  // "backup" / "copy_to": destinations' names
};
TqnBackupEntry ReadBackupEntry(const TqnNode& entry);

// What a verification found: the backup restored into a scratch database
// that could be attached and held the same number of records per table as
// the backup wrote (Verified); the check could not be made, e.g. too little
// space for the scratch copy (Unverified); the backup did not restore, or
// restored different counts (Failed). reason says why when not verified.
struct TqnVerifyResult {
  enum class State { Verified, Unverified, Failed };
  State state = State::Unverified;
  std::string reason;
  long long restoreMs = 0;  // the restore's duration: the time to recover
  long long indexMs = 0;    // of it, the building of the indexes, as its output tells
  long long checkMs = 0;    // the attachment to the restored database and its check
  long long dropMs = 0;     // the dropping of the scratch database
  TqnRecordCounts restored;
};
const char* VerifyStateWord(TqnVerifyResult::State state);  // "verified", "unverified", "failed"

// The scratch databases of verifications are named with this prefix; one
// left behind by a run that ended abruptly is removed at the next start.
inline constexpr const char* kScratchPrefix = "qnverify-";
// Removes the files a run that ended abruptly left in a folder under a
// prefix of the program's own (scratch databases, backups being written);
// returns how many.
int RemoveLeftovers(const std::string& folder, const std::string& prefix);

// The remote fields of a backup job; all empty or 0 for a local backup.
struct TqnBackupJob {
  bool remote = false;           // verbose lines go to "remotebackup"
  std::string requesterAddress;  // the UDP requester, "" for TCP and local
  int32_t senderNumber = 0;      // this instance's number, frames progress
  int32_t requestNumber = 0;     // the workstation's request number
  // Receives the per-table record counts of the backup's verbose output.
  TqnRecordCountReader* counts = nullptr;
};

// Sends an unframed progress payload to the requester (framed with the
// sender number and the packet key, to the reply port).
using TqnProgressSender =
    std::function<void(const std::string& address, const std::string& payload, int32_t senderNumber)>;

struct TqnBackupRunnerOptions {
  std::string programFolder;  // where the client libraries are chosen from
  std::string localHostName;  // for the local-host rule of MoveAsideCurrentFile
  std::string packetKey;      // frames the default progress packets
  uint16_t replyPort = 7985;  // where the default sender sends progress
};

class TqnBackupRunner {
 public:
  // Construct on the main thread. ui may be null (no indicator, no events).
  TqnBackupRunner(TqnFbConnection& connection, TqnLog& log, IqnUserInterface* ui, const Clock& clock,
                  TqnBackupRunnerOptions options);
  // The local host name and the packet key, known once start-up has read
  // them; set before the first operation, never while one runs.
  void SetIdentity(const std::string& localHostName, const std::string& packetKey) {
    options_.localHostName = localHostName;
    options_.packetKey = packetKey;
  }

  // The run's operation lock, shared with the other users of the main
  // connection; until it is set the runner has a lock of its own. Set
  // before the first operation.
  void ShareOperationLock(TqnOperationLock& lock) { lock_ = &lock; }
  TqnOperationLock& OperationLock() { return *lock_; }

  // Replaces the default progress sender (a UDP datagram from a socket of
  // its own), e.g. with the UDP info server's.
  void SetProgressSender(TqnProgressSender sender) { sender_ = std::move(sender); }
  // What a logical dump restore needs of the run (entry re-pointing, the
  // login dialog, the "fb.ini" flag). Without them a moved entry is not
  // saved and a refused login is not retried.
  void SetDumpRestoreHooks(TqnDumpRestoreHooks hooks) { dumpHooks_ = std::move(hooks); }
  // The time base of the dump restore's progress limits (tests).
  void SetProgressClock(TqnProgressThrottle::NowFunction now);

  // One backup of the entry into fileName (a server-side name).
  void BackupDatabase(const TqnBackupEntry& entry, const std::string& fileName, const TqnBackupJob& job = {});
  // The same, with OperationLock() already held by the caller (a backup and
  // its verification form one operation).
  void BackupDatabaseHeld(const TqnBackupEntry& entry, const std::string& fileName, const TqnBackupJob& job);
  // Proves a backup file of the entry: restores it through the entry's
  // server into a scratch database (in entry.verifyFolder, or beside the
  // file), attaches to it, checks that it is online and compares the
  // restored record counts with expected (when given). The scratch
  // database is dropped whatever happens. The caller holds OperationLock().
  // Never throws for a bad backup: the result says what was found.
  TqnVerifyResult VerifyBackupHeld(const TqnBackupEntry& entry, const std::string& file,
                                   const TqnRecordCounts* expected);
  // One restore of the entry's database from file; conversionMode adds the
  // WIN1251 metadata fix. A ".pbz" file is a logical dump: restored with
  // RestoreLogicalDump under the same operation lock (conversionMode does
  // not apply), with the hooks below.
  void RestoreDatabase(const TqnBackupEntry& entry, const std::string& file, bool conversionMode);
  // A scheduled backup into the entry's folder as "auto-<stamp>.bk3|.fbk".
  void AutoBackupEntry(const TqnBackupEntry& entry);
  // Its first steps: checks the folder, names the file and writes the
  // pane's line; returns the file name. Throws for an unusable folder.
  std::string PrepareAutoBackup(const TqnBackupEntry& entry);
  // Moves the entry's database file into "prev" beside it, with the time
  // stamp before its extension, when it is on this computer and exists.
  // The main connection must be prepared for the entry: the server is asked
  // first whether anyone else is attached, and a file in use is not moved
  // (the move message); a refused login or an unreachable server fails
  // before anything is moved.
  void MoveAsideCurrentFile(const std::string& entryPath);
  // Closes the main connection and sets it up for the entry: database
  // name, user, password and the client library of its server generation.
  void PrepareMainConnection(const TqnBackupEntry& entry);

  // The verbose-line handlers: log the line, fail on the tool's own failure
  // lines (IsServiceFailureLine),
  // and every eleventh line advance the indicator (and, for a remote UDP
  // request, send a progress packet).
  void OnBackupVerbose(const TqnBackupJob& job, const std::string& line);
  void OnRemoteBackupVerbose(const TqnBackupJob& job, const std::string& line);

  // True on the thread that runs an operation now (a nested request
  // served from its progress steps must wait its turn).
  bool OperationOnThisThread() const { return lock_->HeldByThisThread(); }

  int VerboseLineCount() const { return verboseLineCount_; }
  // How often the indicator was advanced since construction.
  int ProgressSteps() const { return progressSteps_; }
  // The request blocks of the last operation (what went to the service).
  const std::string& LastRequestBlock() const { return lastRequest_; }

 private:
  void RunService(const TqnBackupEntry& entry, const std::function<std::string(bool fb30, bool oldClient)>& request,
                  const TqnServiceLineHandler& onLine, bool moveAside);
  void Verbose(const TqnBackupJob& job, const std::string& line, const char* logName);
  void DropScratch(const std::string& connectName, const std::string& localFile);
  bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }
  // One step of the indicator, serving the window on the main thread.
  void StepProgress();

  TqnFbConnection& connection_;
  TqnLog& log_;
  IqnUserInterface* ui_;
  const Clock& clock_;
  TqnBackupRunnerOptions options_;
  TqnProgressSender sender_;
  std::thread::id uiThread_;
  TqnOperationLock ownLock_;
  TqnOperationLock* lock_ = &ownLock_;
  int verboseLineCount_ = 0;
  std::atomic<int> progressSteps_{0};
  std::string lastRequest_;
  TqnDumpRestoreHooks dumpHooks_;
  TqnProgressThrottle::NowFunction progressNow_;
  // The loader's progress limit keeps its last step for the whole run.
  TqnProgressThrottle loadProgress_;
};

// The progress payload: "database-backup-info " + R (8 upper-case hex
// digits) + " progress".
std::string BackupProgressPayload(int32_t requestNumber);

}  // namespace qn
