// TfrmMainWin: the main window and the tray icon in Win32 controls. Like
// the Qt window it draws what its presenter (TqnMainPresenter) gives and
// forwards the person's actions and the desktop's events to it; the core
// owns all state of the run.
//
// Use from the program entry (main/windowed_win32.cpp), before the core and
// outliving it:
//   TfrmMainWin window;
//   TqnWinUserInterface ui(window);
//   RunProgram<TqnWin32RunLoop>(WindowSkin(window, ui, hidden));
// which attaches the core before its start-up, shows the window after it
// (unless hidden: only the tray icon then), and detaches after shutdown.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "app/main_presenter.h"
#include "app/main_view.h"
#include "gui_win32/tray_messages.h"

namespace qn {

class TfrmMainWin : public IqnMainView {
 public:
  static constexpr UINT kTrayIconId = qn::kTrayIconId;
  static constexpr UINT kTrayMessage = kTrayCallbackMessage;

  TfrmMainWin();
  ~TfrmMainWin() override;
  TfrmMainWin(const TfrmMainWin&) = delete;
  TfrmMainWin& operator=(const TfrmMainWin&) = delete;

  HWND Handle() const { return hwnd_; }

  void Attach(TqnApplication& core);
  void Detach();
  // After core.Startup(): shows the window unless the program was started
  // hidden (only the tray icon shows then).
  void Started(bool showWindow);

  // The busy indicator under the list.
  void SetBusy(bool busy);
  // Whether the last call to the shell for the tray icon succeeded.
  bool TrayCallSucceeded() const { return trayCallSucceeded_; }
  const std::wstring& TrayTip() const { return trayTipShown_; }
  // The dialog or message box of the program in front, else the main window.
  HWND DialogOwner() const;
  // The run's orderly shutdown, finished from WM_ENDSESSION: once that
  // returns, the system may end the process before the loop runs again.
  void SetSessionEnd(std::function<void()> finish) { sessionEnd_ = std::move(finish); }

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

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Build();
  void Layout(int width, int height);
  void FitColumns();
  void ShortenPaths();
  void ShowPage(int page);
  void OnCommand(int id);
  void OnTray(UINT mouseMessage);
  void OpenTrayMenu();
  void Run(TqnMainButton button);
  void UpdateButtons();
  void UpdateTray(DWORD operation);
  void AppendPane(bool cleared, const std::vector<std::string>& lines);
  void LoadWindowState();
  void HideToTray();
  HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }

  HWND hwnd_ = nullptr;
  TqnMainPresenter presenter_{*this};
  std::vector<HWND> dataPage_;
  std::wstring trayTipShown_;
  bool trayAdded_ = false;
  bool trayCallSucceeded_ = false;
  bool fillingList_ = false;
  RECT normalFrame_{};
  bool normalFrameKnown_ = false;
  HIMAGELIST images_ = nullptr;
  std::function<void()> sessionEnd_;
};

}  // namespace qn
