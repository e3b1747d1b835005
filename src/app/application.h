// The state and the logic of one run of the Database Manager, with or
// without a window: start-up in its fixed order, the database list, the
// register's actions, the instance channel's messages, exit and shutdown.
//
// Everything here runs on the main thread, except where a method says
// otherwise. The core reaches the person through IqnUserInterface and the
// window through IqnMainView.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/text.h"
#include "firebird/connect_string.h"
#include "ipc/channel.h"
#include "ipc/log.h"
#include "settings/settings_store.h"
#include "app/dialog_rules.h"
#include "app/main_view.h"
#include "app/user_interface.h"

namespace qn {

// One row of the database list.
struct TqnListRow {
  int number;              // the entry's number, the row's data
  std::string text;        // "<n>@<host>" and "  (<caption>)" when there is one
  std::string path;        // the entry's decoded path
  std::string lastBackup;  // the latest backup's time and state ("" for none)
};

// Orders keys without regard to letter case (entry keys, as in the register).
struct TqnNoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const { return CompareTextNoCase(a, b) < 0; }
};
using TqnNoCaseKeySet = std::set<std::string, TqnNoCaseLess>;

// Work of later start-up steps, filled in by the subsystems that own it.
struct TqnStartupHooks {
  std::function<void()> startInfoServers;  // step 8
  std::function<void()> checkFb30Server;   // step 12
};

class TqnApplication {
 public:
  static constexpr const char* kChannelName = "RU.QUORVEN.RAZAD.INTERCOM";
  // The channel of the machine's service instance (the headless program the
  // system runs as its own user): root and the group "qndbmgr" reach it.
  static constexpr const char* kServiceChannelName = "Global\\RU.QUORVEN.RAZAD.INTERCOM";
  // The answer of a short-lived command instance to "activate": the start
  // that sent it waits for the instance to end and then starts.
  static constexpr const char* kCommandInstanceStatus = "command-instance";
  static constexpr int kStarterIntervalMs = 600000;
  static constexpr int kBackupIntervalMs = 10000;

  // Construction: the program folder, the flag files "debug.txt" and
  // "force-inet6", the log and its pane.
  TqnApplication(std::string programFolder, IqnUserInterface& ui, IqnMainView& view, const Clock& clock);
  ~TqnApplication();
  TqnApplication(const TqnApplication&) = delete;
  TqnApplication& operator=(const TqnApplication&) = delete;

  // The database creation of a new entry (path, user and password set):
  // creates the database, completes the entry and saves; throws on failure.
  void SetDatabaseCreator(std::function<void(TqnNode& entry)> creator) { createDatabase_ = std::move(creator); }
  void SetStartupHooks(TqnStartupHooks hooks) { hooks_ = std::move(hooks); }
  // Runs at start-up once the register is loaded (the backup feature
  // removes what a run that ended abruptly left behind).
  void SetAfterLoad(std::function<void()> afterLoad) { afterLoad_ = std::move(afterLoad); }
  // The channel server of the run, whose messages the core handles from
  // start-up step 11 on. May be null.
  void SetChannelServer(TqnIpcServer* server) { channel_ = server; }
  TqnIpcServer* ChannelServer() const { return channel_; }
  // Channel messages other than "activate" (the administrator's commands
  // handed over by another process). Main thread.
  void SetCommandHandler(std::function<void(TqnIpcMessage&)> handler) { commandHandler_ = std::move(handler); }

  // The creation handler's steps in order. A failing step ends the sequence
  // there: its message is shown in an error box and the program runs on.
  void Startup();
  // Logs the exit, saves the window state (when there is a window), removes
  // the tray icon and saves the settings.
  void Shutdown(bool saveWindowState);
  // The start-up of a run for one administrator's command: the settings,
  // "fb.ini", the host name, the list and the channel's handler; no info
  // servers, tray, server check or first-run offer.
  void StartupForCommand();
  // A short-lived instance for one command: "activate" is answered with
  // kCommandInstanceStatus instead of showing a window.
  void SetCommandInstance(bool commandInstance) { commandInstance_ = commandInstance; }
  bool CommandInstance() const { return commandInstance_; }

  // ---- the database list ----
  const std::vector<TqnListRow>& Rows() const { return rows_; }
  // While an entry's latest backup failed, or an entry that has backed up
  // has had no verified backup for longer than the limit: a line naming
  // them, for the tray icon; "" otherwise. Rebuilt with the list.
  const std::string& BackupAlarm() const { return backupAlarm_; }
  int SelectedRow() const { return selectedRow_; }
  bool EntryButtonsEnabled() const { return entryButtonsEnabled_; }
  // "Создать": off while an operation or a creation runs.
  bool CreateButtonEnabled() const { return !Busy(); }
  // An operation of the main thread (backup, restore, dump load, creation)
  // begins or ends: the window shows the run busy and the entry buttons
  // and "Создать" are off meanwhile.
  void SetOperationRunning(bool running);
  bool Busy() const { return operationRunning_ || creating_; }
  // Rebuilds the list; selects the given entry's row, else the row of the
  // previously selected number, else the first.
  void FillList(const TqnNode* entry = nullptr);
  void SelectRow(int row);  // -1 deselects
  // The entry of the selected row, nullptr when none is selected; throws
  // when its entry has gone from the register.
  TqnNode* SelectedEntry();

  // ---- the buttons ----
  void EditSelected();    // "Свойства" and a double click
  void RemoveSelected();  // "Удалить"
  void CreateClicked();   // "Создать"
  void ExitClicked();     // "Выход": asks only when the list has rows
  // "Архивация" and "Разархивация" of the selected entry, through the
  // actions the backup feature gives (nothing without one).
  void BackupSelected();
  void RestoreSelected();
  void SetBackupActions(std::function<void()> backup, std::function<void()> restore) {
    backupSelected_ = std::move(backup);
    restoreSelected_ = std::move(restore);
  }
  void ExitProgram();  // the tray menu's "Выход" and the end of the session
  bool Exiting() const { return exiting_; }

  // ---- the register (main-form operations of other parts) ----
  void SaveSettings();
  TqnNode* CreateNewDatabase();
  bool OfferFirstDatabase();
  // Runs a main-thread action, showing a failure in an error box (the
  // window program's default handler for uncaught errors).
  void Guarded(const std::function<void()>& action);

  // ---- window state ----
  // The window was activated on a screen of this size: the geometry to
  // apply, if any.
  std::optional<TqnWindowGeometry> WindowActivated(int screenWidth, int screenHeight);

  // ---- instance channel ----
  void HandleIntercom(TqnIpcMessage& message);

  // ---- timers ----
  // The one-shot starter has fired: the backup check timer may run.
  void StarterTimerFired() { backupTimerEnabled_ = true; }
  bool BackupTimerEnabled() const { return backupTimerEnabled_; }
  void SetBackupCheck(std::function<void()> check) { backupCheck_ = std::move(check); }
  // The settings' destinations for the properties dialog's copies page, and
  // the marker written on one (the report to show; throws when refused).
  void SetCopyPlaces(std::function<std::vector<TqnCopyPlace>()> list,
                     std::function<std::string(const std::string& name)> prepare) {
    copyPlaces_ = std::move(list);
    prepareDestination_ = std::move(prepare);
  }
  // Switches the backup check timer: off while a check runs, on after it
  // (also after the "Check" button, before the starter has fired).
  void SetBackupTimerControl(std::function<void(bool enabled)> control) { backupTimer_ = std::move(control); }
  void BackupTimerFired();
  // The hidden "Check" button: one backup check at once, starter or not.
  void BackupCheckNow();

  // ---- state of the run ----
  const std::string& ProgramFolder() const { return programFolder_; }
  bool DebugFlag() const { return debugFlag_; }
  int32_t InstanceNumber() const { return instanceNumber_; }
  const std::string& PacketKey() const { return packetKey_; }
  const std::string& LocalHostName() const { return address_.localHostName; }
  const TqnAddressContext& AddressContext() const { return address_; }
  const std::string& Title() const { return title_; }
  TqnSettingsStore& Settings() { return settings_; }
  TqnLog& Log() { return log_; }
  TqnMessagePane& Pane() { return pane_; }
  IqnUserInterface& Ui() { return ui_; }
  const Clock& GetClock() const { return clock_; }
  std::set<std::string>& FailureList() { return failureList_; }
  TqnNoCaseKeySet& ConvertLockList() { return convertLockList_; }
  bool TrayIconAdded() const { return trayIconAdded_; }
  // The file version as four numbers joined by ".".
  static std::string FileVersion();
  static std::string Caption();  // "Менеджер баз данных"

 private:
  // Gives every entry of the register its identity, and its paths the state
  // folder the installer moved them into; saved at once.
  void GiveEntriesIds();
  // After the properties dialog: tells when the program could not write the
  // entry's backup folder (a sandboxed service, another user's folder).
  void WarnOfUnwritableBackupFolder(const TqnNode& entry);
  void UpdateButtons(int row);
  void BusyChanged();
  void CreateEntryFolders(int number);
  // SYSDBA's password for a new entry at path: the installation's own on
  // the private server when this user may read it, else "" (the default).
  std::string NewEntryPassword(const std::string& path) const;
  // Entries on the private server still on the fixed default password get
  // the installation's, saved at once; logged when any changed.
  void MoveToInstallationPassword();
  TqnEntryFormActions FormActions();
  // The settings' destinations, none without the backup feature.
  std::vector<TqnCopyPlace> CopyPlaces() const;
  // The properties dialog with its copies page; true when confirmed, the
  // ticks then in form.copyTo.
  bool EditForm(TqnEntryForm& form, const std::vector<TqnCopyPlace>& places);
  // Offers the marker to each destination the dialog newly chose that has none.
  void PrepareChosenDestinations(const std::vector<TqnCopyPlace>& places, const std::string& before,
                                 const std::string& after);
  std::string NewDatabasePath(int number, int firstFileNumber);

  std::string programFolder_;
  IqnUserInterface& ui_;
  IqnMainView& view_;
  const Clock& clock_;
  bool debugFlag_;
  TqnMessagePane pane_;
  TqnLog log_;
  TqnSettingsStore settings_;
  TqnAddressContext address_;
  std::string packetKey_;
  int32_t instanceNumber_ = 0;
  std::string title_;
  std::set<std::string> failureList_;
  TqnNoCaseKeySet convertLockList_;
  std::vector<TqnListRow> rows_;
  std::string backupAlarm_;
  int selectedRow_ = -1;
  bool entryButtonsEnabled_ = false;
  bool exiting_ = false;
  bool operationRunning_ = false;
  bool creating_ = false;
  bool trayIconAdded_ = false;
  bool backupTimerEnabled_ = false;
  int screenWidth_ = 0;
  TqnIpcServer* channel_ = nullptr;
  TqnStartupHooks hooks_;
  std::function<void(TqnNode& entry)> createDatabase_;
  std::function<void()> backupCheck_;
  std::function<void()> backupSelected_;
  std::function<void()> restoreSelected_;
  std::function<void()> afterLoad_;
  std::function<void(TqnIpcMessage&)> commandHandler_;
  bool commandInstance_ = false;
  std::function<void(bool)> backupTimer_;
  std::function<std::vector<TqnCopyPlace>()> copyPlaces_;
  std::function<std::string(const std::string&)> prepareDestination_;
};

}  // namespace qn
