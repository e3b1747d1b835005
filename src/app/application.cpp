#include "app/application.h"

#include <random>

#include "app/folder_check.h"
#include "app/window_texts.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb30_password.h"
#include "firebird/fb_paths.h"
#include "firebird/new_database_name.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/backup_state.h"
#include "settings/installation_password.h"
#include "settings/register.h"

#ifndef QN_FILE_VERSION
#define QN_FILE_VERSION "0.0.0.0"
#endif

namespace qn {

namespace {

const char kFirstRunCaption[] = "Тарвекс 7";

void DeleteEntry(TqnSettingsStore& settings, TqnNode* entry) {
  settings.Change([entry](TqnNode&) { delete entry; });
}

}  // namespace

std::string MessageCaption(TqnMessageKind kind) {
  switch (kind) {
    case TqnMessageKind::Warning: return Win1251("Предупреждение");
    case TqnMessageKind::Error: return Win1251("Ошибка");
    case TqnMessageKind::Information: return Win1251("Информация");
    case TqnMessageKind::Confirmation: return Win1251("Подтверждение");
  }
  return "";
}

TqnApplication::TqnApplication(std::string programFolder, IqnUserInterface& ui, IqnMainView& view, const Clock& clock)
    : programFolder_(std::move(programFolder)),
      ui_(ui),
      view_(view),
      clock_(clock),
      debugFlag_(platform::FileExists(platform::JoinPath(programFolder_, "debug.txt"))),
      log_(programFolder_, debugFlag_, clock, &pane_),
      settings_(programFolder_) {
  address_.forceInet6 = platform::FileExists(platform::JoinPath(programFolder_, "force-inet6"));
  log_.SetErrorBox([this](const std::string& text) { ui_.ShowMessage(TqnMessageKind::Error, text); });
  createDatabase_ = [](TqnNode&) {
    throw Exception(Win1251("Создание базы данных недоступно: нет соединения с сервером Firebird SQL"));
  };
}

TqnApplication::~TqnApplication() {
  if (channel_) channel_->SetOnMessage(nullptr);
}

std::string TqnApplication::FileVersion() {
  // The program file's own version resource where files carry one; the
  // version it was built as otherwise (the two agree).
  platform::FileVersion v;
  if (platform::GetProgramFileVersion(v)) return Format("%d.%d.%d.%d", v.major, v.minor, v.release, v.build);
  return QN_FILE_VERSION;
}
std::string TqnApplication::Caption() { return UiText(TqnText::MainCaption); }

void TqnApplication::Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    ui_.ShowMessage(TqnMessageKind::Error, e.what());
  }
}

void TqnApplication::Startup() {
  Guarded([this] {
    std::mt19937 random(std::random_device{}());
    instanceNumber_ = std::uniform_int_distribution<int32_t>(0, 2147483645)(random) + 1;

    settings_.Load([this](const std::string& text, bool show) { log_.ReportError(text, show); });
    GiveEntriesIds();
    ReadFbIni(programFolder_, address_);
    packetKey_ = settings_.EnsurePacketKey();
    if (IsDefaultPacketKey(packetKey_)) log_.LogMessage(DefaultPacketKeyWarning());
    address_.localHostName = platform::HostName();
    log_.LogMessage("hostname is " + address_.localHostName);
    FillList();
    if (afterLoad_) afterLoad_();
    if (hooks_.startInfoServers) hooks_.startInfoServers();
    view_.AddTrayIcon(Caption());
    trayIconAdded_ = true;
    title_ = Caption() + " " + FileVersion();
    view_.SetTitle(title_);
    if (channel_) channel_->SetOnMessage([this](TqnIpcServer&, TqnIpcMessage& m) { HandleIntercom(m); });
    if (hooks_.checkFb30Server) hooks_.checkFb30Server();
    MoveToInstallationPassword();

    if (settings_.Root().FindNode("data_state")->Text() != "initialized" &&
        RegisterOf(settings_.Root())->NodeCount() == 0) {
      OfferFirstDatabase();
      FillList();
      settings_.Change([](TqnNode& root) { root.Node("data_state")->SetText("initialized"); });
      SaveSettings();
    }
  });
}

void TqnApplication::GiveEntriesIds() {
  // An identity relied on by a backup's catalogue line must be the one the
  // next run reads: saved at once. So is a path that followed the state
  // from beside the program into its own folder (the installer moved it).
  const std::string executableFolder = platform::ExecutableFolder();
  if (!settings_.Change([&](TqnNode& root) {
        const bool moved = MoveStatePaths(root, executableFolder, programFolder_);
        return EnsureEntryIds(root) || moved;
      }))
    return;
  try {
    SaveSettings();
  } catch (const std::exception& e) {
    log_.LogMessage(e.what());
  }
}

void TqnApplication::StartupForCommand() {
  settings_.Load([this](const std::string& text, bool show) { log_.ReportError(text, show); });
  GiveEntriesIds();
  ReadFbIni(programFolder_, address_);
  address_.localHostName = platform::HostName();
  FillList();
  // A short-lived instance is a start too: what a killed run left goes.
  if (afterLoad_) afterLoad_();
  if (channel_) channel_->SetOnMessage([this](TqnIpcServer&, TqnIpcMessage& m) { HandleIntercom(m); });
}

void TqnApplication::Shutdown(bool saveWindowState) {
  log_.LogMessage(Win1251("Выход из программы"));
  // A run never shown (started hidden) knows no screen and no geometry of
  // its own: what an earlier run saved stays as it was.
  if (saveWindowState && screenWidth_ > 0) {
    TqnWindowGeometry g = view_.Geometry();
    settings_.Change([&](TqnNode& root) { WriteWindowState(root, screenWidth_, g); });
  }
  if (trayIconAdded_) {
    view_.RemoveTrayIcon();
    trayIconAdded_ = false;
  }
  try {
    SaveSettings();
  } catch (const std::exception& e) {
    log_.LogMessage(e.what());
  }
}

void TqnApplication::SaveSettings() { settings_.Save(); }

// ---- the database list ----

void TqnApplication::FillList(const TqnNode* entry) {
  int target = -1;
  if (entry && !ParseEntryName(entry->Name(), target)) target = -1;
  if (!entry && selectedRow_ >= 0 && selectedRow_ < static_cast<int>(rows_.size())) target = rows_[selectedRow_].number;
  rows_.clear();
  selectedRow_ = -1;
  const TqnNode* data = RegisterOf(settings_.Root());
  for (int i = 0; i < data->NodeCount(); ++i) {
    const TqnNode* e = data->Nodes(i);
    int number = 0;
    if (!ParseEntryName(e->Name(), number)) continue;
    TqnListRow row;
    row.number = number;
    row.text = DigitsOnly(e->Name()) + "@" + address_.localHostName;
    std::string caption = e->FindNode("caption")->Content().AsString("");
    if (!caption.empty()) row.text += "  (" + caption + ")";
    row.path = e->FindNode("path")->Content().AsString("");
    row.lastBackup = LastBackupText(ReadBackupState(*e), clock_.Now());
    // A copy that fails shows beside the backup it could not take away.
    const std::string copies = FailingCopiesText(*e);
    if (!copies.empty()) row.lastBackup += (row.lastBackup.empty() ? "" : "; ") + copies;
    if (number == target && target >= 0 && selectedRow_ < 0) selectedRow_ = static_cast<int>(rows_.size());
    rows_.push_back(std::move(row));
  }
  if (selectedRow_ < 0 && !rows_.empty()) selectedRow_ = 0;
  backupAlarm_.clear();
  for (const TqnStatusLine& line : BackupStatus(settings_.Root(), clock_.Now())) {
    // An entry that never tried a backup is new, not neglected.
    if (line.health == TqnBackupHealth::Ok ||
        ReadBackupState(*RegisterOf(settings_.Root())->FindNode(line.key)).state.empty())
      continue;
    // The tip is short: the destinations' names only.
    const TqnNode* entry = RegisterOf(settings_.Root())->FindNode(line.key);
    std::string copies;
    for (const std::string& name : FailingCopies(*entry)) copies += (copies.empty() ? Win1251("копия: ") : ",") + name;
    const bool ownFailed = ReadBackupState(*entry).state == "failed";
    backupAlarm_ += (backupAlarm_.empty() ? Win1251("Резервные копии: ") : "; ") + line.key +
                    (line.health == TqnBackupHealth::Failed
                         ? (!ownFailed && !copies.empty() ? Win1251(" — ") + copies : Win1251(" — ошибка"))
                         : Win1251(" — нет свежей проверенной копии"));
  }
  UpdateButtons(selectedRow_);
  view_.ListChanged();
}

void TqnApplication::SelectRow(int row) {
  selectedRow_ = (row >= 0 && row < static_cast<int>(rows_.size())) ? row : -1;
  UpdateButtons(selectedRow_);
}

void TqnApplication::UpdateButtons(int row) {
  if (!exiting_) entryButtonsEnabled_ = row >= 0 && !Busy();
}

void TqnApplication::SetOperationRunning(bool running) {
  operationRunning_ = running;
  ui_.SetBusy(running);
  BusyChanged();
}

void TqnApplication::BusyChanged() {
  UpdateButtons(selectedRow_);
  view_.ListChanged();
}

TqnNode* TqnApplication::SelectedEntry() {
  if (selectedRow_ < 0) return nullptr;
  return FindEntry(settings_.Root(), rows_[selectedRow_].number);
}

// ---- the buttons ----

TqnEntryFormActions TqnApplication::FormActions() {
  TqnEntryFormActions actions;
  actions.choosePath = [this](const std::string& current) -> std::optional<std::string> {
    TFbLocation loc;
    try {
      loc = ParseDatabasePath(current);
    } catch (const EqnDNError&) {
      loc = TFbLocation{};
    }
    TqnFileDialog dialog;
    dialog.title = Win1251("Выбор файла базы данных");
    dialog.filter = Win1251("Файл базы данных (*.fdb, *.fd3)|*.fdb;*.fd3");
    dialog.defaultExtension = "fdb";
    dialog.folder = IsLocalHost(loc.host, "") ? platform::ExtractFileDir(loc.filePath) : programFolder_;
    dialog.fileName = platform::ExtractFileName(loc.filePath);
    auto file = ui_.PickOpenFile(dialog);
    if (!file) return std::nullopt;
    return PathForPickedFile(*file, GetFb30ServerAddress(address_));
  };
  actions.chooseBackupFolder = [this](const std::string& current) {
    return ui_.PickFolder(Win1251("Путь для сохранения резервных копий"), current);
  };
  return actions;
}

void TqnApplication::EditSelected() {
  // The window keeps being served while an operation runs; its entry stays
  // as it is until the operation is over.
  if (Busy()) return;
  TqnNode* entry = SelectedEntry();
  if (!entry) return;
  const std::string name = entry->Name();
  const TqnEntryForm opened = LoadEntryForm(*entry, false, address_.localHostName);
  TqnEntryForm form = opened;
  const std::vector<TqnCopyPlace> places = CopyPlaces();
  if (!EditForm(form, places)) return;
  // The dialog served the window meanwhile: the entry may have changed or
  // gone. Only what the person changed is written.
  entry = RegisterOf(settings_.Root())->FindNode(name);
  if (!entry->Exists()) return;
  const TqnEntryForm current = LoadEntryForm(*entry, false, address_.localHostName);
  settings_.Change([&](TqnNode&) { StoreEntryForm(MergeEntryForm(opened, form, current), *entry); });
  SaveSettings();
  failureList_.erase(name);
  FillList();
  WarnOfUnwritableBackupFolder(*entry);
  PrepareChosenDestinations(places, opened.copyTo, form.copyTo);
}

std::vector<TqnCopyPlace> TqnApplication::CopyPlaces() const {
  return copyPlaces_ ? copyPlaces_() : std::vector<TqnCopyPlace>{};
}

bool TqnApplication::EditForm(TqnEntryForm& form, const std::vector<TqnCopyPlace>& places) {
  form.copies = CopyChoices(places, form.copyTo);
  if (!ui_.EditEntry(form, FormActions())) return false;
  form.copyTo = TakeCopyChoices(form.copies, form.copyTo);
  return true;
}

void TqnApplication::PrepareChosenDestinations(const std::vector<TqnCopyPlace>& places, const std::string& before,
                                               const std::string& after) {
  if (!prepareDestination_) return;
  for (const TqnCopyPlace& place : NewUnpreparedPlaces(places, before, after)) {
    if (!ui_.AskYesNo(TqnMessageKind::Confirmation, PrepareDestinationQuestion(place))) continue;
    try {
      ui_.ShowMessage(TqnMessageKind::Information, prepareDestination_(place.name));
    } catch (const std::exception& e) {
      ui_.ShowMessage(TqnMessageKind::Error, e.what());
    }
  }
}

void TqnApplication::WarnOfUnwritableBackupFolder(const TqnNode& entry) {
  // Only a folder of this computer can be looked at; a remote server's is its own.
  const std::string path = entry.FindNode("path")->Content().AsString("");
  const std::string folder = entry.FindNode("backup")->FindNode("path")->Content().AsString("");
  try {
    // A folder that is not there yet is the backups' own message.
    if (folder.empty() || !platform::DirectoryExists(folder) ||
        !IsLocalHost(ParseDatabasePath(path).host, address_.localHostName))
      return;
  } catch (const std::exception&) {
    return;
  }
  const std::string problem = FolderWriteProblem(folder, ".qnprobe-" + entry.Name());
  if (problem.empty()) return;
  ui_.ShowMessage(TqnMessageKind::Warning,
                  Format(Win1251("Каталог резервных копий \"%s\" недоступен программе для записи, резервные копии "
                                 "в нём не будут созданы: %s")
                             .c_str(),
                         folder.c_str(), problem.c_str()));
}

void TqnApplication::RemoveSelected() {
  if (Busy()) return;
  TqnNode* entry = SelectedEntry();
  if (!entry) return;
  if (!ui_.AskYesNo(TqnMessageKind::Warning, Win1251("Удалить из списка запись о базе данных"))) return;
  // The question served the window: the entry may have gone meanwhile.
  if (Busy() || SelectedEntry() != entry) return;
  const std::string name = entry->Name();
  DeleteEntry(settings_, entry);
  SaveSettings();
  // A later entry may take the same name; it starts with a clean record.
  failureList_.erase(name);
  FillList();
}

void TqnApplication::CreateClicked() {
  if (Busy()) return;
  creating_ = true;
  BusyChanged();
  TqnNode* entry = nullptr;
  try {
    entry = CreateNewDatabase();
  } catch (...) {
    creating_ = false;
    // The dialog served the window: the list may show the half-made entry.
    FillList();
    throw;
  }
  creating_ = false;
  FillList(entry);
}

void TqnApplication::ExitClicked() {
  if (!rows_.empty() &&
      !ui_.AskYesNo(TqnMessageKind::Warning,
                    Win1251("Закрытие программы приведет к невозможности запуска клиентских мест, произвести выход?")))
    return;
  ExitProgram();
}

void TqnApplication::BackupSelected() {
  if (Busy() || !backupSelected_) return;
  backupSelected_();
}

void TqnApplication::RestoreSelected() {
  if (Busy() || !restoreSelected_) return;
  restoreSelected_();
}

void TqnApplication::ExitProgram() {
  exiting_ = true;
  view_.Quit();
}

// ---- the register ----

std::string TqnApplication::NewDatabasePath(int, int firstFileNumber) {
  std::string file = NewDatabaseFileName(platform::JoinPath(programFolder_, "data"), firstFileNumber);
  return GetFb30ServerAddress(address_) + ":" + file;
}

std::string TqnApplication::NewEntryPassword(const std::string& path) const {
  if (!IsPrivateServerPath(path, address_.localHostName)) return "";
  return InstalledFb30Password().value_or("");
}

void TqnApplication::MoveToInstallationPassword() {
  const std::optional<std::string> password = InstalledFb30Password();
  if (!password) return;
  const int moved = settings_.Change(
      [&](TqnNode& root) { return MoveEntriesToInstallationPassword(root, *password, address_.localHostName); });
  if (moved == 0) return;
  SaveSettings();
  log_.LogMessage(Format(Win1251("Записей с паролем этой установки сервера Firebird SQL 3.0 QN: %d").c_str(), moved));
}

void TqnApplication::CreateEntryFolders(int number) {
  const std::string data = platform::JoinPath(programFolder_, "data");
  try {
    platform::ForceDirectories(data);
  } catch (const Exception&) {
    throw Exception(Win1251("Невозможно создать каталог для баз данных"));
  }
  const std::string backup = DefaultBackupFolder(programFolder_, number);
  try {
    platform::ForceDirectories(backup);
  } catch (const Exception&) {
    throw Exception(Win1251("Невозможно создать каталог для баз резервных копий"));
  }
  // The server, never root, writes both itself.
  for (const std::string& folder : {data, backup})
    if (!platform::ShareFolderWithDatabaseServer(folder))
      log_.LogMessage(Win1251("Не удалось дать серверу Firebird доступ к каталогу ") + folder);
}

TqnNode* TqnApplication::CreateNewDatabase() {
  int number = MaxEntryNumber(settings_.Root()) + 1;
  // Beyond db9999 a name would no longer be an entry name: the entry would
  // vanish from the register it was meant for.
  if (number > kMaxEntryNumber)
    throw Exception(Format(Win1251("Невозможно создать новую запись: все номера баз данных до %d заняты").c_str(),
                           kMaxEntryNumber));
  TqnNewEntry values;
  values.path = NewDatabasePath(number, number);
  values.password = NewEntryPassword(values.path);
  values.backupPath = DefaultBackupFolder(programFolder_, number);
  TqnNode* entry = settings_.Change([&](TqnNode& root) { return AddEntry(root, number, values); });
  TqnEntryForm form = LoadEntryForm(*entry, true, address_.localHostName);
  const std::vector<TqnCopyPlace> places = CopyPlaces();
  if (!EditForm(form, places)) {
    DeleteEntry(settings_, entry);
    return nullptr;
  }
  try {
    settings_.Change([&](TqnNode&) { StoreEntryForm(form, *entry); });
    PrepareChosenDestinations(places, "", form.copyTo);
    if (!form.createDatabase) return entry;
    CreateEntryFolders(number);
    createDatabase_(*entry);
  } catch (...) {
    DeleteEntry(settings_, entry);
    throw;
  }
  return entry;
}

bool TqnApplication::OfferFirstDatabase() {
  if (!ui_.AskYesNo(TqnMessageKind::Warning,
                    Win1251("Сейчас не настроено ни одной базы данных,\r\nсоздать новую пустую базу данных для "
                            "программы \"Тарвекс 7\"?")))
    return false;
  try {
    platform::ForceDirectories(platform::JoinPath(programFolder_, "data"));
  } catch (const Exception&) {
    throw Exception(Win1251("Невозможно создать каталог для баз данных"));
  }
  if (RegisterOf(settings_.Root())->FindNode(EntryName(0))->Exists()) return true;
  CreateEntryFolders(0);
  TqnNewEntry values;
  values.path = NewDatabasePath(0, 0);
  values.password = NewEntryPassword(values.path);
  values.caption = Win1251(kFirstRunCaption);
  values.backupPath = DefaultBackupFolder(programFolder_, 0);
  TqnNode* entry = settings_.Change([&](TqnNode& root) { return AddEntry(root, 0, values); });
  try {
    createDatabase_(*entry);
  } catch (...) {
    DeleteEntry(settings_, entry);
    throw;
  }
  return true;
}

// ---- window state, channel, timers ----

std::optional<TqnWindowGeometry> TqnApplication::WindowActivated(int screenWidth, int screenHeight) {
  screenWidth_ = screenWidth;
  return ReadWindowState(settings_.Root(), screenWidth, screenHeight);
}

void TqnApplication::HandleIntercom(TqnIpcMessage& message) {
  std::string command = message.Command();
  log_.LogMessage(("intercom " + command).substr(0, 40), 2);
  if (command == "activate" && commandInstance_)
    message.SetStatus(kCommandInstanceStatus);
  else if (command == "activate")
    view_.ShowMainWindow(false);
  else if (commandHandler_)
    commandHandler_(message);
}

void TqnApplication::BackupTimerFired() {
  if (backupTimerEnabled_) BackupCheckNow();
}

void TqnApplication::BackupCheckNow() {
  if (!backupCheck_) return;
  if (backupTimer_) backupTimer_(false);
  // The scheduler reports its failures in the message pane, never in a box.
  try {
    backupCheck_();
  } catch (const std::exception& e) {
    log_.LogMessage(e.what());
  }
  // A check ends by enabling the timer, so "Check" starts it early too.
  backupTimerEnabled_ = true;
  if (backupTimer_) backupTimer_(true);
}

}  // namespace qn
