// TfrmMainQNDBMGR: the main window and the tray icon. It draws what its
// presenter (TqnMainPresenter) gives and forwards the person's actions to
// it; the core owns all state of the run.
//
// Use from the program entry:
//   TfrmMainQNDBMGR window;                      // before the core
//   TqnQtUserInterface ui(window);
//   TqnApplication core(folder, ui, window, clock);
//   ... core.Set*() ...
//   window.Attach(core);                         // before core.Startup()
//   TqnRunLoop loop(core);                       // the backup timers
//   core.Startup();
//   loop.StartTimers();
//   window.Started(!hidden);                     // shows unless hidden
//   app.exec();
//   core.Shutdown(true);                         // the window must still exist
//   window.Detach();                             // before the core goes
//
// Closing the window while the core is not exiting only hides it; the run
// ends through the core's ExitProgram, which calls Quit().
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/main_presenter.h"
#include "app/main_view.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;
class QTabWidget;
class QTreeWidget;

namespace qn {

class TqnApplication;
class TqnInfinity;

class TfrmMainQNDBMGR : public QWidget, public IqnMainView {
  Q_OBJECT

 public:
  explicit TfrmMainQNDBMGR(QWidget* parent = nullptr);
  ~TfrmMainQNDBMGR() override;

  // Connects the window to the core: the message pane's lines and the list.
  void Attach(TqnApplication& core);
  // Stops showing the pane and forgets the core.
  void Detach();
  // After core.Startup(): shows the window unless the program was started
  // hidden (only the tray icon shows then).
  void Started(bool showWindow);

  // The busy indicator under the list.
  void SetBusy(bool busy);

  // Whether the desktop has a notification area; the system is asked by
  // default. Without one the window is never hidden, only minimised, so
  // that the program stays reachable.
  void SetTrayAvailable(std::function<bool()> available) { trayAvailable_ = std::move(available); }

  // The window every dialog and message box of the program is owned by:
  // the open dialog, else the active window, else this one.
  QWidget* ActiveForm();
  TqnMainPresenter& Presenter() { return presenter_; }

  QSystemTrayIcon* TrayIcon() const { return tray_; }
  QMenu* TrayMenu() const { return trayMenu_; }

  // ---- IqnMainView ----
  void ListChanged() override;
  void AddTrayIcon(const std::string& tip) override;
  void RemoveTrayIcon() override;
  void SetTitle(const std::string& title) override;
  void ShowMainWindow(bool toggle) override;
  void Quit() override;
  int ScreenWidth() const override;
  TqnWindowGeometry Geometry() const override;
  void ShowMessagesPage() override;

 protected:
  bool event(QEvent* event) override;
  // The list's viewport: its columns take their shares of a new width.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildDataPage(QWidget* page);
  void BuildTray();
  void ShowBackupAlarm();
  void UpdateButtons();
  // Forwards a button's click; its failure is shown in an error box.
  void Run(TqnMainButton button);
  void AppendPane(bool cleared, const std::vector<std::string>& lines);
  void LoadWindowState();
  // Hides the window to the tray, or minimises it where there is no tray
  // or no icon in it.
  void HideToTray();

  void lvwBaseSelectionChanged();

  TqnMainPresenter presenter_{*this};
  std::function<bool()> trayAvailable_;
  // The clock of the tray's middle clicks.
  QElapsedTimer trayClock_;

  QTabWidget* pgcMain_;
  QTreeWidget* lvwBase_;
  TqnInfinity* infProgress_;
  QPushButton* btnEdit_;
  QPushButton* btnBackup_;
  QPushButton* btnRestore_;
  QPushButton* btnCreate_;
  QPushButton* btnRemove_;
  QPlainTextEdit* memLog_;
  QPushButton* btnExit_;
  QPushButton* btnTest_;
  QPushButton* Button5_;
  QSystemTrayIcon* tray_;
  QMenu* trayMenu_;
};

}  // namespace qn
