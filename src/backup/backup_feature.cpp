#include "backup/backup_feature.h"

#include <chrono>
#include <optional>

#include "backup/backup_names.h"
#include "backup/destination_restore.h"
#include "backup/destinations.h"
#include "backup/scheduler.h"
#include "backup/status_textfile.h"
#include "app/window_texts.h"
#include "settings/backup_state.h"
#include "settings/register.h"
#include "platform/files.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_paths.h"

namespace qn {

namespace {

// An alert goes once per change of state: at the first failure, and at the
// recovery after it. alert is the entry's memory of the last one sent.
std::optional<TqnAlertEvent> AlertOnChange(std::string& alert, bool failed, bool recovered) {
  if (failed && alert != "failed") {
    alert = "failed";
    return TqnAlertEvent::Failed;
  }
  if (recovered && !alert.empty()) {
    alert.clear();
    return TqnAlertEvent::Recovered;
  }
  return std::nullopt;
}

// The settings changed an entry's state: saved (a failure only logged, the
// run goes on), the list and the status file drawn again.
void StateChanged(TqnApplication& app) {
  try {
    app.SaveSettings();
  } catch (const std::exception& e) {
    app.Log().LogMessage(e.what());
  }
  app.FillList();
  WriteStatusTextfile(app);
}

}  // namespace

TqnFileDialog BackupSaveDialog(bool fb30, const std::string& backupFolder, const DateTime& now) {
  TqnFileDialog dialog;
  dialog.filter =
      fb30 ? Win1251("Файлы резервной копии (*.bk3)|*.bk3") : Win1251("Файлы резервной копии (*.fbk)|*.fbk");
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
      services_(services),
      view_(view),
      runner_(services.Connection(), app.Log(), &app.Ui(), app.GetClock(),
              {app.ProgramFolder(), app.LocalHostName(), app.PacketKey()}),
      keeper_(runner_, app.Log(), app.GetClock()),
      startMinutes_(DateTimeMinutes(app.GetClock().Now())),
      copies_(
          [this](const TqnCopyJob& job, const std::atomic<bool>& stop) {
            return CopyToDestination(job, app_.GetClock().Now(), app_.Log(), &stop, sourceHook_);
          },
          [this](const TqnCopyJob& job, const TqnCopyResult& result, int) {
            CopyReported(job.entry.name, job.destination.name, job.file, result);
          }) {
  keeper_.SetObserver([this](const TqnBackupOutcome& outcome) { Recorded(outcome); });
  keeper_.SetAfterRelease(
      [this](const TqnBackupEntry& entry, const TqnBackupOutcome& outcome) { QueueCopies(entry, outcome); });
  app_.SetAfterLoad([this] {
    RemoveLeftovers();
    ResumeCopies();
    WriteStatusTextfile(app_);
  });
  runner_.ShareOperationLock(services.OperationLock());
  // Progress leaves from the UDP info server, framed with this instance's number.
  runner_.SetProgressSender([&services](const std::string& address, const std::string& payload, int32_t) {
    services.SendUdpPayload(address, payload);
  });
  services.SetRemoteBackup([this](const TqnRemoteBackupRequest& request) { PerformRemoteBackup(request); },
                           NormalizeBackupFolder);
  app_.SetBackupCheck([this] { timBackupTimer(); });
  app_.SetBackupActions([this] { btnBackupClick(); }, [this] { btnRestoreClick(); });
  app_.SetCopyPlaces([this] { return CopyPlaces(); },
                     [this](const std::string& name) { return PrepareDestination(name); });
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

TqnBackupFeature::~TqnBackupFeature() {
  copies_.Stop([this] { app_.Ui().ProcessEvents(); });
}

bool TqnBackupFeature::WaitForCopies(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!copies_.WaitTried(10)) {
    if (std::chrono::steady_clock::now() > end) return false;
    app_.Ui().ProcessEvents();
  }
  return true;
}

void TqnBackupFeature::ResumeCopies() {
  // A copy that failed, or that a stop or a kill cut short, is made again
  // from the entry's newest proven backup.
  struct Pending {
    TqnBackupEntry entry;
    TqnDestination destination;
    std::string lastFile;
  };
  std::vector<Pending> pending;
  app_.Settings().Read([&](const TqnNode& root) {
    const TqnNode* data = RegisterOf(root);
    for (int i = 0; i < data->NodeCount(); ++i) {
      int number;
      if (!ParseEntryName(data->Nodes(i)->Name(), number)) continue;
      const TqnBackupEntry entry = ReadBackupEntry(*data->Nodes(i));
      for (const std::string& name : entry.copyTo) {
        const std::optional<TqnDestination> destination = FindDestination(root, name);
        const TqnCopyState state = ReadCopyState(*data->Nodes(i), name);
        if (destination) pending.push_back({entry, *destination, state.state == "copied" ? state.file : ""});
      }
    }
    return 0;
  });
  for (const Pending& p : pending) {
    const std::string folder = NormalizeBackupFolder(p.entry.backupFolder);
    const std::vector<TqnCatalogueRecord> records = ReadCatalogueForLooking(folder);
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      if (!RecordOfEntry(*it, p.entry.name, p.entry.id) || it->entryId.empty() || it->outcome != "ok") continue;
      if (it->verification != "verified" && !(it->verification == "unverified" && !p.entry.verify)) continue;
      const std::string file = CatalogueFilePath(folder, *it);
      if (file != p.lastFile && platform::FileExists(file)) copies_.Post({p.entry, file, *it, p.destination});
      break;
    }
  }
}

void TqnBackupFeature::QueueCopies(const TqnBackupEntry& entry, const TqnBackupOutcome& outcome) {
  // A remote server's backup is out of reach: only a file here is copied.
  if (entry.copyTo.empty() || !outcome.Proven() || !platform::FileExists(outcome.file)) return;
  for (const std::string& name : entry.copyTo) {
    const std::optional<TqnDestination> destination =
        app_.Settings().Read([&](const TqnNode& root) { return FindDestination(root, name); });
    if (!destination) {
      TqnCopyResult missing;
      missing.message =
          Format(Win1251("места хранения \"%s\" нет в настройках (\"destinations\")").c_str(), name.c_str());
      CopyReported(entry.name, name, outcome.file, missing);
      continue;
    }
    copies_.Post({entry, outcome.file, outcome.record, *destination});
  }
}

void TqnBackupFeature::CopyReported(const std::string& entryName, const std::string& destination,
                                    const std::string& file, const TqnCopyResult& result) {
  std::optional<TqnAlertEvent> event;
  services_.OnMainThread([&] {
    bool found = app_.Settings().Change([&](TqnNode& root) {
      TqnNode* entry = RegisterOf(root)->FindNode(entryName);
      if (!entry->Exists()) return false;
      TqnCopyState state = ReadCopyState(*entry, destination);
      state.time = FormatDateTime("yyyy-mm-dd hh:nn:ss", app_.GetClock().Now());
      state.file = file;
      state.state = result.ok ? "copied" : "failed";
      state.message = result.message;
      if (result.ok) state.copied = state.time;
      event = AlertOnChange(state.alert, !result.ok, result.ok);
      WriteCopyState(*entry, state);
      return true;
    });
    if (found) StateChanged(app_);
  });
  if (event)
    Alert(*event, entryName,
          Format(Win1251("копия в \"%s\": %s").c_str(), destination.c_str(),
                 result.ok ? Win1251("снова делается").c_str() : result.message.c_str()));
}

void TqnBackupFeature::EnsureIdentity() {
  std::call_once(identity_, [this] {
    runner_.SetIdentity(app_.LocalHostName(), app_.PacketKey());
    keeper_.SetLocalHostName(app_.LocalHostName());
  });
}

void TqnBackupFeature::btnBackupClick() {
  EnsureIdentity();
  TqnNode* entry = app_.SelectedEntry();
  if (!entry) return;
  const TqnBackupEntry values = ReadBackupEntry(*entry);
  auto file =
      app_.Ui().PickSaveFile(BackupSaveDialog(IsFb30Database(values.path), values.backupFolder, app_.GetClock().Now()));
  if (!file) return;
  const TqnBackupOutcome outcome = keeper_.Make(values, *file);
  // The person who asked sees at once that the copy would not restore.
  if (outcome.verify.state == TqnVerifyResult::State::Failed)
    app_.Ui().ShowMessage(
        TqnMessageKind::Warning,
        Win1251("Резервная копия не прошла проверку восстановлением и не сохранена: ") + outcome.verify.reason);
  else if (!outcome.catalogueError.empty())
    app_.Ui().ShowMessage(TqnMessageKind::Warning, outcome.catalogueError);
}

void TqnBackupFeature::btnRestoreClick() {
  EnsureIdentity();
  TqnNode* entry = app_.SelectedEntry();
  if (!entry) return;
  const TqnBackupEntry values = ReadBackupEntry(*entry);
  // An entry whose backups are copied elsewhere may be restored from a copy
  // there: the disk that held the local ones may be the one that failed.
  std::optional<TqnOfferedCopy> fromCopy;
  std::vector<TqnDestination> destinations;
  app_.Settings().Read([&](const TqnNode& root) {
    for (const std::string& name : values.copyTo)
      if (std::optional<TqnDestination> d = FindDestination(root, name)) destinations.push_back(*d);
    return 0;
  });
  if (!destinations.empty()) {
    std::vector<std::string> problems;
    const std::vector<TqnOfferedCopy> copies = OfferedCopies(destinations, values, problems);
    std::vector<std::string> items{Win1251("Файл на этом компьютере...")};
    for (const TqnOfferedCopy& c : copies) items.push_back(OfferedCopyLine(c));
    std::string prompt = Win1251("Восстановить базу данных из файла или из копии в месте хранения:");
    for (const std::string& p : problems) prompt += "\r\n" + p;
    const std::optional<int> picked = app_.Ui().PickItem(UiText(TqnText::ButtonRestore), prompt, items);
    if (!picked) return;
    if (*picked > 0) fromCopy = copies[static_cast<size_t>(*picked - 1)];
  }
  std::optional<std::string> file;
  int chosenFilter = 0;
  if (!fromCopy) {
    TqnFileDialog dialog = RestoreOpenDialog(IsFb30Database(values.path), values.backupFolder);
    dialog.chosenFilter = &chosenFilter;
    file = app_.Ui().PickOpenFile(dialog);
    if (!file) return;
  }
  if (!app_.Ui().AskYesNo(TqnMessageKind::Warning,
                          Win1251("При разархивации файла все текущие данные будут заменены данными из "
                                  "открываемого файла. Продолжить?")))
    return;
  if (fromCopy) file = DownloadForRestore(values, fromCopy->destination, fromCopy->line.file);
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
  ctx.backup = [this](const TqnNode& entry) {
    const TqnBackupEntry values = ReadBackupEntry(entry);
    keeper_.Make(values, runner_.PrepareAutoBackup(values));
  };
  ctx.change = [this](const std::function<void()>& change) { app_.Settings().Change([&](TqnNode&) { change(); }); };
  ctx.save = [this] { app_.SaveSettings(); };
  ctx.failedAt = &failedAt_;
  ctx.unreadable = &unreadable_;
  ctx.report = [this](const std::string& message) {
    app_.Log().LogMessage(Win1251("Ошибка! ") + message);
    view_.ShowMessagesPage();
  };
  // The list says "сегодня" and "вчера": it is drawn again when the day changes.
  const long long day = DateTimeMinutes(app_.GetClock().Now()) / 1440;
  if (day != listDay_) {
    if (listDay_ >= 0) app_.FillList();
    listDay_ = day;
  }
  std::string failure;
  try {
    RunSchedulerPass(ctx);
    CheckStale();
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
  // The workstation hears "success" only for a backup that was proven.
  const TqnBackupOutcome outcome = keeper_.Make(entry, request.fileName, job);
  if (!outcome.Proven()) throw Exception(Win1251("Резервная копия не подтверждена проверкой: ") + outcome.message);
}

void TqnBackupFeature::Recorded(const TqnBackupOutcome& outcome) {
  // The entry's state is changed and saved by the main thread, the
  // settings' only writer; a workstation's backup ends on its own thread.
  std::optional<TqnAlertEvent> event;
  services_.OnMainThread([&] {
    bool found = app_.Settings().Change([&](TqnNode& root) {
      TqnNode* entry = RegisterOf(root)->FindNode(outcome.entry);
      if (!entry->Exists()) return false;
      TqnEntryBackupState state = ReadBackupState(*entry);
      state.state = outcome.State();
      state.time = outcome.time;
      state.message = outcome.message;
      if (state.state == "verified") state.verified = outcome.time;
      event = AlertOnChange(state.alert, state.state == "failed", state.state == "verified");
      WriteBackupState(*entry, state);
      return true;
    });
    if (found) StateChanged(app_);
  });
  if (event) Alert(*event, outcome.entry, outcome.message);
}

void TqnBackupFeature::Alert(TqnAlertEvent event, const std::string& entryName, const std::string& message) {
  TqnAlert alert;
  alert.event = event;
  alert.host = app_.LocalHostName();
  alert.entry = entryName;
  alert.message = message;
  const TqnAlertSettings settings = app_.Settings().Read([&](const TqnNode& root) {
    const TqnNode* entry = RegisterOf(root)->FindNode(entryName);
    alert.caption = entry->FindNode("caption")->Content().AsString("");
    alert.path = entry->FindNode("path")->Content().AsString("");
    return ReadAlertSettings(root);
  });
  // Sent by the worker: this may run under the operation lock or on the
  // main thread, which a hook that hangs must not hold.
  const std::string prefix = entryName + " (" + AlertEventWord(event) + "): ";
  TqnLog& log = app_.Log();
  alerts_.Post(settings, std::move(alert), [&log, prefix](const std::string& line) { log.LogMessage(prefix + line); });
}

void TqnBackupFeature::CheckStale() {
  const DateTime now = app_.GetClock().Now();
  const long long nowMinutes = DateTimeMinutes(now);
  std::vector<std::pair<std::string, std::string>> stale;  // entry, message
  app_.Settings().Change([&](TqnNode& root) {
    const long long limit = static_cast<long long>(StaleHours(root)) * 60;
    for (const TqnStatusLine& line : BackupStatus(root, now)) {
      if (line.health != TqnBackupHealth::Stale) continue;
      // With no verified backup at all, the limit counts from the run's start.
      if (line.lastVerified.empty() && nowMinutes - startMinutes_ <= limit) continue;
      TqnNode* entry = RegisterOf(root)->FindNode(line.key);
      TqnEntryBackupState state = ReadBackupState(*entry);
      if (!state.alert.empty()) continue;
      state.alert = "stale";
      WriteBackupState(*entry, state);
      stale.emplace_back(line.key, line.lastVerified.empty()
                                       ? Win1251("нет ни одной проверенной резервной копии")
                                       : Win1251("последняя проверенная резервная копия: ") + line.lastVerified);
    }
  });
  if (stale.empty()) return;
  StateChanged(app_);  // the tray shows the entry now
  for (const auto& [entry, message] : stale) Alert(TqnAlertEvent::Stale, entry, message);
}

void TqnBackupFeature::RemoveLeftovers() {
  // Scratch databases by their prefix; backups being written only when the
  // identity in their name is one of this register's entries.
  std::map<std::string, std::set<std::string>> prefixes;  // folder: prefixes
  app_.Settings().Read([&](const TqnNode& root) {
    const TqnNode* data = RegisterOf(root);
    for (int i = 0; i < data->NodeCount(); ++i) {
      int number;
      if (!ParseEntryName(data->Nodes(i)->Name(), number)) continue;
      const TqnBackupEntry entry = ReadBackupEntry(*data->Nodes(i));
      for (const std::string& folder : {entry.backupFolder, entry.verifyFolder})
        if (!folder.empty()) prefixes[folder].insert(kScratchPrefix);
      if (!entry.backupFolder.empty() && !entry.id.empty())
        prefixes[entry.backupFolder].insert(kPartialPrefix + entry.id + "-");
    }
    return 0;
  });
  // A destination's writes killed half-way, under its own identity, only
  // where its marker shows the destination is there.
  const std::vector<TqnDestination> destinations =
      app_.Settings().Read([](const TqnNode& root) { return ReadDestinations(root); });
  for (const TqnDestination& destination : destinations) {
    if (destination.kind != "folder" || destination.uid.empty()) continue;
    try {
      std::unique_ptr<storage::Storage> place = OpenDestination(destination, TqnDestinationUse::Write);
      if (auto* folder = dynamic_cast<storage::FolderStorage*>(place.get())) {
        const int removed = folder->RemoveUnfinished();
        if (removed > 0)
          app_.Log().LogMessage(
              Format(Win1251("Удалено файлов, оставшихся от прервавшегося копирования, в \"%s\": %d").c_str(),
                     folder->Describe().c_str(), removed));
      }
    } catch (const std::exception&) {
      // not there now: its copies will say so
    }
  }
  for (const auto& [folder, starts] : prefixes) {
    int removed = 0;
    for (const std::string& prefix : starts) removed += qn::RemoveLeftovers(folder, prefix);
    if (removed > 0)
      app_.Log().LogMessage(Format(Win1251("Удалено файлов, оставшихся от прервавшегося запуска, в \"%s\": %d").c_str(),
                                   folder.c_str(), removed));
  }
}

}  // namespace qn
