#include <gtest/gtest.h>

#include "gui_win32/win_controls.h"
#include "window_run.h"

using namespace qn;
using namespace qn::test;

namespace {

const std::string kTwoEntries = Register(Entry("db0003", "localhost:C:\\base\\tx.fdb", Win1251("Склад")) +
                                         Entry("db0001", Win1251("localhost/53030:D:\\Базы\\tx.fd3"), ""));

void SelectOnly(HWND list, int row) {
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED;
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
  if (row < 0) return;
  state.state = LVIS_SELECTED;
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

std::string TabText(HWND tabs, int index) {
  wchar_t buffer[128] = {};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = buffer;
  item.cchTextMax = 128;
  ::SendMessageW(tabs, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  return Narrow(buffer);
}

// A WM_QUIT the window's exit left for the run loop; removed.
bool QuitWasPosted() {
  MSG msg;
  return ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

}  // namespace

TEST(MainWindowWin, ShowsTheRegisterAndItsButtonsFollowTheSelectionAndTheOperation) {
  WindowRun run(kTwoEntries);
  HWND main = run.window.Handle();
  EXPECT_EQ(WindowText(main), Win1251("Менеджер баз данных ") + TqnApplication::FileVersion());
  EXPECT_TRUE(::IsWindowVisible(main));
  HWND tabs = run.Item(winid::pgcMain);
  EXPECT_EQ(TabText(tabs, 0), Win1251("Базы данных"));
  EXPECT_EQ(TabText(tabs, 1), Win1251("Сообщения"));

  HWND list = run.Item(winid::lvwBase);
  ASSERT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 2);
  const std::string host = run.core->LocalHostName();
  EXPECT_EQ(CellText(list, 0, 0), "3@" + host + Win1251("  (Склад)"));
  EXPECT_EQ(CellText(list, 1, 0), "1@" + host);
  // A path too long for its share of the list is shortened in its middle:
  // its server and its file stay in sight.
  auto shortened = [](const std::string& cell, const std::string& path) {
    if (cell == path) return true;
    const size_t dots = cell.find("...");
    return dots != std::string::npos && dots > 0 && path.compare(0, dots, cell, 0, dots) == 0 &&
           cell.size() - dots - 3 > 0 && path.size() >= cell.size() - dots - 3 &&
           path.compare(path.size() - (cell.size() - dots - 3), std::string::npos, cell, dots + 3) == 0;
  };
  EXPECT_TRUE(shortened(CellText(list, 0, 1), "localhost:C:\\base\\tx.fdb")) << CellText(list, 0, 1);
  EXPECT_TRUE(shortened(CellText(list, 1, 1), Win1251("localhost/53030:D:\\Базы\\tx.fd3"))) << CellText(list, 1, 1);

  // The first row is selected at start.
  EXPECT_EQ(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 0);
  for (int id : {winid::btnEdit, winid::btnBackup, winid::btnRestore, winid::btnRemove, winid::btnCreate})
    EXPECT_TRUE(run.Enabled(id)) << id;
  SelectOnly(list, -1);
  EXPECT_EQ(run.core->SelectedRow(), -1);
  for (int id : {winid::btnEdit, winid::btnBackup, winid::btnRestore, winid::btnRemove})
    EXPECT_FALSE(run.Enabled(id)) << id;
  EXPECT_TRUE(run.Enabled(winid::btnCreate));
  EXPECT_TRUE(run.Enabled(winid::btnExit));
  SelectOnly(list, 1);
  EXPECT_EQ(run.core->SelectedRow(), 1);
  EXPECT_TRUE(run.Enabled(winid::btnRemove));

  // While an operation runs nothing else can start, and the busy bar shows.
  run.core->SetOperationRunning(true);
  for (int id : {winid::btnEdit, winid::btnBackup, winid::btnRestore, winid::btnRemove, winid::btnCreate})
    EXPECT_FALSE(run.Enabled(id)) << id;
  EXPECT_TRUE(::IsWindowVisible(run.Item(winid::infProgress)));
  run.core->SetOperationRunning(false);
  EXPECT_TRUE(run.Enabled(winid::btnBackup));
  EXPECT_TRUE(run.Enabled(winid::btnCreate));
  EXPECT_FALSE(::IsWindowVisible(run.Item(winid::infProgress)));

  // The tray icon was handed to the shell with the caption as its tip, as
  // it was before the version was added to it.
  EXPECT_TRUE(run.window.TrayCallSucceeded());
  EXPECT_EQ(Narrow(run.window.TrayTip()), Win1251("Менеджер баз данных"));

  // The message pane shows the log's lines, written from any thread.
  run.core->Log().LogMessage(Win1251("Проверка панели сообщений"));
  PumpMessages();
  EXPECT_NE(WindowText(run.Item(winid::memLog)).find(Win1251("Проверка панели сообщений")), std::string::npos);
}

TEST(MainWindowWin, RemoveAsksAWarningTheTrayAndCloseBoxHideAndShowAndTheTrayExitsWithoutAQuestion) {
  WindowRun run(kTwoEntries);
  HWND main = run.window.Handle();
  std::string asked;
  bool warningIcon = false;
  WhenDialogShows(Win1251("Предупреждение"), [&](HWND box) {
    asked = MessageBoxText(box);
    HICON icon = reinterpret_cast<HICON>(::SendMessageW(::GetDlgItem(box, 0x0440), STM_GETICON, 0, 0));
    warningIcon = icon != nullptr && icon == ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_WARNING));
    ::SendMessageW(::GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
  });
  run.Click(winid::btnRemove);
  EXPECT_EQ(asked, Win1251("Удалить из списка запись о базе данных"));
  EXPECT_TRUE(warningIcon);
  HWND list = run.Item(winid::lvwBase);
  ASSERT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 1);
  EXPECT_EQ(CellText(list, 0, 0), "1@" + run.core->LocalHostName());
  EXPECT_EQ(run.Settings().find("db0003"), std::string::npos);

  // A left click on the icon hides the shown window and shows the hidden
  // one; the close box hides it; a middle double click shows it.
  auto tray = [&](UINT mouse) { ::SendMessageW(main, TfrmMainWin::kTrayMessage, TfrmMainWin::kTrayIconId, mouse); };
  tray(WM_LBUTTONUP);
  EXPECT_FALSE(::IsWindowVisible(main));
  tray(WM_LBUTTONUP);
  EXPECT_TRUE(::IsWindowVisible(main));
  ::SendMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindowVisible(main));
  EXPECT_TRUE(::IsWindow(main));
  EXPECT_FALSE(run.core->Exiting());
  tray(WM_LBUTTONDOWN);
  tray(WM_MOUSEMOVE);
  EXPECT_FALSE(::IsWindowVisible(main)) << "a button going down and a move are no event";
  tray(WM_MBUTTONDBLCLK);
  EXPECT_TRUE(::IsWindowVisible(main));
  EXPECT_FALSE(QuitWasPosted());

  // "Выход" asks while the list has rows; "Нет" keeps the program.
  asked.clear();
  WhenDialogShows(Win1251("Предупреждение"), [&](HWND box) {
    asked = MessageBoxText(box);
    ::SendMessageW(::GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
  });
  run.Click(winid::btnExit);
  EXPECT_EQ(asked, Win1251("Закрытие программы приведет к невозможности запуска клиентских мест, произвести выход?"));
  EXPECT_FALSE(run.core->Exiting());
  EXPECT_FALSE(QuitWasPosted());

  // The tray menu's "Выход" ends the run at once.
  ::SendMessageW(main, WM_COMMAND, winid::mniExit, 0);
  EXPECT_TRUE(run.core->Exiting());
  EXPECT_TRUE(QuitWasPosted());
}

TEST(MainWindowWin, TheSavedFrameAppliesWhenTheWindowFirstShowsAndIsReadBackOnceHidden) {
  const std::string width = std::to_string(::GetSystemMetrics(SM_CXSCREEN));
  const std::string visual = "  <visual><main><w" + width + "><state>std</state><bounds><left>100</left><top>80</top>" +
                             "<right>700</right><bottom>520</bottom></bounds></w" + width + "></main></visual>\r\n";
  std::string settings = kTwoEntries;
  settings.insert(settings.find("</settings>"), visual);
  WindowRun run(settings);
  HWND main = run.window.Handle();
  RECT frame{};
  ::GetWindowRect(main, &frame);
  EXPECT_EQ(frame.left, 100);
  EXPECT_EQ(frame.top, 80);
  EXPECT_EQ(frame.right, 700);
  EXPECT_EQ(frame.bottom, 520);
  // Moved by the person, then hidden to the tray: shutdown reads where it stood.
  ::SetWindowPos(main, nullptr, 150, 90, 640, 450, SWP_NOZORDER);
  ::SendMessageW(main, WM_CLOSE, 0, 0);
  ASSERT_FALSE(::IsWindowVisible(main));
  const TqnWindowGeometry g = run.window.Geometry();
  EXPECT_FALSE(g.maximized);
  EXPECT_EQ(g.left, 150);
  EXPECT_EQ(g.top, 90);
  EXPECT_EQ(g.right, 790);
  EXPECT_EQ(g.bottom, 540);
}

// The system may end the process as soon as WM_ENDSESSION returns: the
// exit asked at WM_QUERYENDSESSION is finished within it, not left to the
// loop; a session end that was called off finishes nothing.
TEST(MainWindowWin, TheEndOfTheSessionFinishesTheExitBeforeItsLastMessageReturns) {
  WindowRun run(kTwoEntries);
  HWND main = run.window.Handle();
  int finished = 0;
  // As the program's run does: its orderly shutdown, which saves the frame.
  run.window.SetSessionEnd([&] {
    ++finished;
    run.core->Shutdown(true);
  });
  ::SetWindowPos(main, nullptr, 150, 90, 640, 450, SWP_NOZORDER);
  EXPECT_TRUE(::SendMessageW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF));
  ::SendMessageW(main, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
  EXPECT_EQ(finished, 0);
  ::SendMessageW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(finished, 1);
  EXPECT_TRUE(run.core->Exiting());
  const TqnLog& log = run.core->Log();
  const std::string logText =
      platform::ReadFile(platform::JoinPath(log.LogFolder(), log.MainLogFileName(run.clock.Now())));
  EXPECT_NE(logText.find(Win1251("Выход из программы")), std::string::npos);
  EXPECT_NE(run.Settings().find("<left>150</left>"), std::string::npos) << run.Settings();
  EXPECT_TRUE(QuitWasPosted());
}
