// TqnMainPresenter: what the main window and its tray icon show and decide,
// without a toolkit, so that every skin of the window (Qt on Linux, Win32 on
// Windows) only draws and forwards.
//
// How a window uses it:
//   - It owns one, made with itself as the core's view (IqnMainView), and
//     attaches the core before the core's start-up: Attach(&core); detaches
//     (Attach(nullptr)) before the core goes. Detached, it shows the
//     caption, no rows, and "Создать" and "Выход" on.
//   - It draws from: Title(), Columns(), Rows() and SelectedRow(),
//     ButtonEnabled() and ButtonVisible(), Busy(), TrayTip() and
//     TrayAlarm() (a warning icon instead of the program's), and the texts of
//     window_texts.h. It redraws the list and the buttons on the core's
//     ListChanged(), the buttons after every verb, the tray after
//     AddTrayIcon() and ListChanged().
//   - It forwards: Click() of a button (failures are shown in an error box
//     here), RowDoubleClicked(), SelectRow() when the person selects a row,
//     TrayEvent() of the icon and its menu (the Win32 skin maps its tray
//     mouse messages in gui_win32/tray_messages.h; a skin that reports middle clicks one by one
//     uses TrayMiddleClick()), SessionEnding() at the end of the session,
//     TrayIconAdded() from its AddTrayIcon().
//   - It asks: CloseHides() when the close box is used (true: cancel the
//     close and HideWay()), HideWay() whenever it leaves the screen,
//     ShowTarget() for whom ShowMainWindow and every dialog or message box
//     serve ("the open dialog, else the active window, else the main
//     window"), ShowHides() for ShowMainWindow(toggle), WindowShown() and
//     WindowActivated() for the saved geometry (given only at the first
//     activation after the program showed the window), ClientBounds() and
//     MinimumClientSize() to turn the saved frame bounds and the smallest
//     frame into client sizes.
// Main thread only, like the core.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/application.h"
#include "app/main_view.h"
#include "app/window_texts.h"
#include "settings/window_state.h"

namespace qn {

enum class TqnMainButton { Properties, Backup, Restore, Create, Remove, Exit, Test, Check };

enum class TqnTrayEvent {
  PrimaryUp,          // left button up: show or hide the main window
  SecondaryUp,        // right button up: the window opens the tray menu
  MiddleDoubleClick,  // show the main window
  MenuOpen,           // "Открыть": show the main window
  MenuExit,           // "Выход": exit without a question
};

// Who a show, a dialog or a message box is for.
enum class TqnWindowTarget { OpenDialog, ActiveWindow, MainWindow };

// How the main window leaves the screen: hidden to the tray, or minimised
// where there is no notification area or no icon in it.
enum class TqnHideWay { Hide, Minimise };

// The list's columns share its width by these parts, at every size, so that
// the state of the backups shows without widening the window; a text too
// long for its column (a long path) is shortened in its middle, the whole
// in a tooltip.
struct TqnColumn {
  TqnText title;
  int share;  // percent of the list's width
};

struct TqnClientBounds {
  int left, top, width, height;
};

class TqnMainPresenter {
 public:
  // The designed sizes: client area, smallest outer size (frame included).
  static constexpr int kClientWidth = 522;
  static constexpr int kClientHeight = 366;
  static constexpr int kMinWidth = 530;
  static constexpr int kMinHeight = 320;
  static constexpr int kRowIconSize = 32;
  // The tray tip's length: the platform's first version of the tray record
  // holds 64 characters with the closing zero.
  static constexpr size_t kMaxTipLength = 63;

  explicit TqnMainPresenter(IqnMainView& window) : window_(window) {}
  TqnMainPresenter(const TqnMainPresenter&) = delete;
  TqnMainPresenter& operator=(const TqnMainPresenter&) = delete;

  void Attach(TqnApplication* core) { core_ = core; }
  TqnApplication* Core() const { return core_; }

  // ---- what the window draws ----
  // The caption, with the version once start-up has added it.
  std::string Title() const;
  static const std::vector<TqnColumn>& Columns();
  const std::vector<TqnListRow>& Rows() const;
  int SelectedRow() const;
  bool ButtonEnabled(TqnMainButton button) const;
  static bool ButtonVisible(TqnMainButton button);
  static TqnText ButtonText(TqnMainButton button);
  // An operation or a creation runs.
  bool Busy() const;
  // The tip given to AddTrayIcon and, while an entry's backups are in
  // trouble, the line naming them; at most kMaxTipLength characters.
  std::string TrayTip() const;
  bool TrayAlarm() const;

  // ---- what the window forwards ----
  // A button's click; a failure is shown in an error box and the run goes
  // on. A button that is off does nothing.
  void Click(TqnMainButton button);
  void RowDoubleClicked() { Click(TqnMainButton::Properties); }
  // The person selected a row (-1: none).
  void SelectRow(int row);
  // The icon's and its menu's events. True when the window is to open its
  // tray menu at the cursor.
  bool TrayEvent(TqnTrayEvent event);
  // A single middle click at nowMs (any steady clock); the second within
  // doubleClickMs makes the double click the icon answers.
  void TrayMiddleClick(long long nowMs, int doubleClickMs);
  // The desktop session ends: let it end and exit without a question.
  void SessionEnding();
  // From the window's AddTrayIcon(tip).
  void TrayIconAdded(const std::string& tip) { trayTip_ = tip; }

  // ---- what the window asks ----
  // The close box: true while the program is not exiting; the close is then
  // cancelled and the window leaves the screen as HideWay() says.
  bool CloseHides() const;
  TqnHideWay HideWay(bool trayAvailable) const;
  static TqnWindowTarget ShowTarget(bool dialogOpen, bool otherWindowActive);
  // ShowMainWindow(toggle): true when the main window is to be hidden
  // (HideWay), false when the target is to be shown and brought forward.
  static bool ShowHides(bool toggle, TqnWindowTarget target, bool mainVisible);
  // The program showed the window (not the desktop giving it back): the
  // saved geometry is due at the next activation.
  void WindowShown(bool byProgram);
  // The window was activated on a screen of this size: the saved geometry
  // to apply, once per show from hidden.
  std::optional<TqnWindowGeometry> WindowActivated(int screenWidth, int screenHeight);
  // Saved bounds are the frame's: the client's place and size, given what
  // the frame adds to each dimension.
  static TqnClientBounds ClientBounds(const TqnWindowGeometry& frame, int frameExtraWidth, int frameExtraHeight);
  // The smallest client size, given what the frame adds.
  static std::pair<int, int> MinimumClientSize(int frameExtraWidth, int frameExtraHeight);

 private:
  IqnMainView& window_;
  TqnApplication* core_ = nullptr;
  std::string trayTip_;
  bool geometryPending_ = true;
  std::optional<long long> lastMiddleClick_;
};

}  // namespace qn
