// The backup feature of a run: the runner on the run's main connection,
// the manual commands of the main window, the scheduler's tick and the
// remote backups of the info server.
//
// Construct on the main thread after the core and the run services and
// before core.Startup() (the info servers take the remote backup hooks at
// start-up). Everything except PerformRemoteBackup runs on the main thread.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "app/application.h"
#include "app/main_view.h"
#include "app/run_services.h"
#include "backup/alert_worker.h"
#include "backup/alerts.h"
#include "backup/backup_keeper.h"
#include "backup/backup_runner.h"
#include "backup/copy_worker.h"
#include "backup/destinations.h"
#include "infoserver/info_context.h"

namespace qn {

class TqnBackupFeature {
 public:
  TqnBackupFeature(TqnApplication& app, TqnRunServices& services, IqnMainView& view);
  // Ends a copy under way first, serving the main thread meanwhile.
  ~TqnBackupFeature();
  TqnBackupFeature(const TqnBackupFeature&) = delete;
  TqnBackupFeature& operator=(const TqnBackupFeature&) = delete;

  TqnBackupRunner& Runner() { return runner_; }
  // Every backup of the run goes through the keeper (proof, catalogue,
  // pruning) and its outcome into the entry's state and the alerts.
  TqnBackupKeeper& Keeper() { return keeper_; }
  // Alerts leave from here, never from the operation that caused them.
  TqnAlertWorker& Alerts() { return alerts_; }
  // Every proven backup's copies to the destinations of its entry leave
  // from here, after the operation.
  TqnCopyWorker& Copies() { return copies_; }
  // Waits, serving the main thread, until every copy queued has been tried
  // once (a command-line backup's instance answers after its copies).
  bool WaitForCopies(int timeoutMs);
  // Wraps every copy's source (tests make a destination slow with it).
  void SetCopySourceHook(TqnSourceHook hook) { sourceHook_ = std::move(hook); }

  // The destinations as the properties dialog offers them.
  std::vector<TqnCopyPlace> CopyPlaces();
  // --init-destination and the dialog's offer: the marker written on the
  // destination (or the one there taken), its identity kept in the
  // settings. The report to show; throws when refused.
  std::string PrepareDestination(const std::string& name);

  // A destination's copy brought into the entry's backup folder and checked
  // by its SHA-256, for a restore: the local file. Throws with the reason.
  std::string DownloadForRestore(const TqnBackupEntry& entry, const TqnDestination& destination,
                                 const std::string& object);

  // "Архивация": a save dialog for the selected entry, then the backup.
  void btnBackupClick();
  // "Разархивация": an open dialog, the replace question, then the restore
  // (conversion mode when the second filter was chosen).
  void btnRestoreClick();
  // One scheduler pass; a failure goes to the message pane as "Ошибка! "
  // and the message, and brings the window forward on its messages page.
  // While another operation runs the pass is left to a later tick.
  void timBackupTimer();
  // A workstation's backup: the entry is read under the settings lock, the
  // backup runs outside it. Any thread; throws on failure.
  void PerformRemoteBackup(const TqnRemoteBackupRequest& request);

  // The runner is made before start-up has read the host name and the
  // packet key; the first operation hands them over, once, from any thread.
  void EnsureIdentity();

  // Looks for entries with automatic backups that have had no verified
  // backup for longer than "alerts" / "stale_hours", and alerts once per
  // entry. Part of every scheduler tick; main thread.
  void CheckStale();
  // Removes scratch databases and backups still being written left in the
  // backup and verification folders
  // by a run that ended abruptly. Start-up, main thread.
  void RemoveLeftovers();

 private:
  // Records an outcome in the entry's state, saves, and alerts on a change.
  void Recorded(const TqnBackupOutcome& outcome);
  void Alert(TqnAlertEvent event, const std::string& entryName, const std::string& message);
  // Queues again, at the start, the copies a failure, a stop or a kill
  // left unmade: of each entry's newest proven backup.
  void ResumeCopies();
  // Queues the copies of a backup that was proven; after the operation.
  void QueueCopies(const TqnBackupEntry& entry, const TqnBackupOutcome& outcome);
  // Records a copy's result in the entry's state, and alerts on a change.
  void CopyReported(const std::string& entryName, const std::string& destination, const std::string& file,
                    const TqnCopyResult& result);

  TqnApplication& app_;
  TqnRunServices& services_;
  IqnMainView& view_;
  TqnBackupRunner runner_;
  TqnBackupKeeper keeper_;
  std::once_flag identity_;
  // When each entry of the failure list failed, for its cool-down.
  std::map<std::string, long long> failedAt_;
  // Entries whose schedule state cannot be read, reported once each.
  std::set<std::string> unreadable_;
  // Minutes (StampMinutes' scale) when the run began: an entry with no
  // verified backup at all is stale once the run is older than the limit.
  long long startMinutes_;
  long long listDay_ = -1;  // the day the list's ages were last drawn for
  // Last, so that it ends first: a hook still running is ended before the
  // rest of the feature goes.
  TqnAlertWorker alerts_;
  TqnSourceHook sourceHook_;
  // After the alerts, so that it ends before them: its reports alert.
  TqnCopyWorker copies_;
};

// The dialog texts of the manual commands.
TqnFileDialog BackupSaveDialog(bool fb30, const std::string& backupFolder, const DateTime& now);
TqnFileDialog RestoreOpenDialog(bool fb30, const std::string& backupFolder);

}  // namespace qn
