#include "backup/backup_feature.h"

#include "backup/backup_names.h"
#include "backup/scheduler.h"
#include "settings/register.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_paths.h"

namespace qn {

TqnFileDialog BackupSaveDialog(bool fb30, const std::string& backupFolder, const DateTime& now) {
  TqnFileDialog dialog;
  dialog.filter = fb30 ? Win1251("Файлы резервной копии (*.bk3)|*.bk3") : Win1251("Файлы резервной копии (*.fbk)|*.fbk");
  dialog.defaultExtension = "fbk";
  dialog.fileName = BackupFileName(backupFolder, kManualBackupPrefix, now, fb30);
  return dialog;
}

TqnFileDialog RestoreOpenDialog(bool fb30, const std::string& backupFolder) {
  TqnFileDialog dialog;
  dialog.filter = fb30 ? Win1251("Файлы резервной копии (*.bk3, *.pbz)|*.bk3;*.pbz")
                       : Win1251(
                             "Файлы резервной копии (*.fbk, *.pbz)|*.fbk;*.pbz|"
                             "Конвертация версии 1.5 для 2.5 (*.fbk)|*.fbk");
  dialog.folder = NormalizeBackupFolder(backupFolder);
  return dialog;
}

TqnBackupFeature::TqnBackupFeature(TqnApplication& app, TqnRunServices& services, IqnMainView& view)
    : app_(app),
      view_(view),
      runner_(services.Connection(), app.Log(), &app.Ui(), app.GetClock(),
              {app.ProgramFolder(), app.LocalHostName(), app.PacketKey()}) {
  runner_.ShareOperationLock(services.OperationLock());
  // Progress leaves from the UDP info server, framed with this instance's number.
  runner_.SetProgressSender([&services](const std::string& address, const std::string& payload, int32_t) {
    services.SendUdpPayload(address, payload);
  });
  services.SetRemoteBackup([this](const TqnRemoteBackupRequest& request) { PerformRemoteBackup(request); },
                           NormalizeBackupFolder);
  app_.SetBackupCheck([this] { timBackupTimer(); });
  TqnDumpRestoreHooks hooks;
  hooks.repointEntry = [this](const std::string& entryName, const std::string& newPath) {
    TqnNode* entry = app_.Settings().Change([&](TqnNode& root) {
      TqnNode* node = RegisterOf(root)->FindNode(entryName);
      if (node->Exists()) node->Node("path")->Content().SetString(newPath);
      return node;
    });
    app_.SaveSettings();
    app_.FillList(entry->Exists() ? entry : nullptr);
  };
  hooks.askLogin = [this](std::string& user, std::string& password) { return app_.Ui().AskLogin(user, password); };
  hooks.fbIniPresent = [this] { return app_.AddressContext().fbIniPresent; };
  runner_.SetDumpRestoreHooks(std::move(hooks));
}

void TqnBackupFeature::EnsureIdentity() {
  std::call_once(identity_, [this] { runner_.SetIdentity(app_.LocalHostName(), app_.PacketKey()); });
}

void TqnBackupFeature::btnBackupClick() {
  EnsureIdentity();
  TqnNode* entry = app_.SelectedEntry();
  if (!entry) return;
  const TqnBackupEntry values = ReadBackupEntry(*entry);
  auto file = app_.Ui().PickSaveFile(BackupSaveDialog(IsFb30Database(values.path), values.backupFolder,
                                                      app_.GetClock().Now()));
  if (!file) return;
  runner_.BackupDatabase(values, *file);
}

void TqnBackupFeature::btnRestoreClick() {
  EnsureIdentity();
  TqnNode* entry = app_.SelectedEntry();
  if (!entry) return;
  const TqnBackupEntry values = ReadBackupEntry(*entry);
  TqnFileDialog dialog = RestoreOpenDialog(IsFb30Database(values.path), values.backupFolder);
  int chosenFilter = 0;
  dialog.chosenFilter = &chosenFilter;
  auto file = app_.Ui().PickOpenFile(dialog);
  if (!file) return;
  if (!app_.Ui().AskYesNo(TqnMessageKind::Warning,
                          Win1251("При разархивации файла все текущие данные будут заменены данными из "
                                  "открываемого файла. Продолжить?")))
    return;
  runner_.RestoreDatabase(values, *file, chosenFilter == 1);
}

void TqnBackupFeature::timBackupTimer() {
  // A tick that comes while another operation runs (its progress serves
  // the window, timers included) is no failure: the pass waits for a
  // later tick.
  if (runner_.OperationLock().Busy()) return;
  EnsureIdentity();
  TqnSchedulerContext ctx;
  ctx.root = &app_.Settings().Root();
  ctx.failures = &app_.FailureList();
  ctx.clock = &app_.GetClock();
  ctx.backup = [this](const TqnNode& entry) { runner_.AutoBackupEntry(ReadBackupEntry(entry)); };
  ctx.change = [this](const std::function<void()>& change) { app_.Settings().Change([&](TqnNode&) { change(); }); };
  ctx.save = [this] { app_.SaveSettings(); };
  std::string failure;
  try {
    RunSchedulerPass(ctx);
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown error";
  }
  app_.Log().LogMessage(Win1251("Ошибка! ") + failure);
  view_.ShowMessagesPage();
}

void TqnBackupFeature::PerformRemoteBackup(const TqnRemoteBackupRequest& request) {
  EnsureIdentity();
  TqnBackupEntry entry;
  bool found = app_.Settings().Read([&](const TqnNode& root) {
    const TqnNode* node = root.FindNode("data")->FindNode(request.entryKey);
    if (!node->Exists()) return false;
    entry = ReadBackupEntry(*node);
    return true;
  });
  if (!found) throw Exception("database \"" + request.entryKey + "\" not found");
  TqnBackupJob job;
  job.remote = true;
  job.requesterAddress = request.peer;
  job.senderNumber = app_.InstanceNumber();
  job.requestNumber = static_cast<int32_t>(request.requestNumber);
  runner_.BackupDatabase(entry, request.fileName, job);
}

}  // namespace qn
