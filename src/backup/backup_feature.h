// The backup feature of a run: the runner on the run's main connection,
// the manual commands of the main window, the scheduler's tick and the
// remote backups of the info server.
//
// Construct on the main thread after the core and the run services and
// before core.Startup() (the info servers take the remote backup hooks at
// start-up). Everything except PerformRemoteBackup runs on the main thread.
#pragma once

#include <mutex>
#include <string>

#include "app/application.h"
#include "app/main_view.h"
#include "app/run_services.h"
#include "backup/backup_runner.h"
#include "infoserver/info_context.h"

namespace qn {

class TqnBackupFeature {
 public:
  TqnBackupFeature(TqnApplication& app, TqnRunServices& services, IqnMainView& view);
  TqnBackupFeature(const TqnBackupFeature&) = delete;
  TqnBackupFeature& operator=(const TqnBackupFeature&) = delete;

  TqnBackupRunner& Runner() { return runner_; }

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

 private:

  TqnApplication& app_;
  IqnMainView& view_;
  TqnBackupRunner runner_;
  std::once_flag identity_;
};

// The dialog texts of the manual commands.
TqnFileDialog BackupSaveDialog(bool fb30, const std::string& backupFolder, const DateTime& now);
TqnFileDialog RestoreOpenDialog(bool fb30, const std::string& backupFolder);

}  // namespace qn
