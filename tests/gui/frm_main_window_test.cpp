// The main window as a window: exit, the close box, the tray, the message
// pane, the saved geometry and the busy indicator.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <thread>

#include "base/text.h"
#include "gui/frm_data.h"
#include "gui/infinity.h"
#include "gui_test_support.h"
#include "settings/register.h"
#include "settings/window_state.h"

using namespace qn;

namespace {

struct WindowRun : CoreRun {
  // A desktop with a notification area unless a test says otherwise (the
  // offscreen platform has none).
  WindowRun() {
    window.SetTrayAvailable([] { return true; });
  }
  void StartWith(int entries, bool qtDialogs, const std::function<void(TqnNode&)>& change = {}) {
    auto root = NewSettings();
    for (int n = 0; n < entries; ++n) AddTestEntry(*root, n, "", "localhost:/srv/db/" + EntryName(n) + ".fdb");
    if (change) change(*root);
    WriteSettings(*root);
    Start(qtDialogs);
  }
  QPushButton* button(const char* name) { return Child<QPushButton>(&window, name); }
  // Runs the event loop until the run ends; false when it did not end.
  bool RunUntilQuit(const std::function<void()>& inLoop) {
    QTimer::singleShot(0, inLoop);
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
      timedOut = true;
      QCoreApplication::exit(1);
    });
    watchdog.start(10000);
    int rc = QCoreApplication::exec();
    return !timedOut && rc == 0;
  }
};

}  // namespace

TEST(GuiMainWindow, LayoutAndTitle) {
  WindowRun run;
  run.StartWith(0, false);
  EXPECT_EQ(run.window.objectName(), "frmMainQNDBMGR");
  EXPECT_EQ(run.window.windowTitle().toStdString(),
            Win1251ToUtf8(TqnApplication::Caption() + " " + TqnApplication::FileVersion()));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&run.window));
  QSize frame = run.window.frameGeometry().size() - run.window.size();
  EXPECT_EQ(run.window.minimumSize() + frame, QSize(530, 320)) << "the smallest size with the frame";
  EXPECT_GE(run.window.width(), 522);
  for (const char* hidden : {"btnTest", "Button5", "infProgress"})
    EXPECT_TRUE(Child<QWidget>(&run.window, hidden)->isHidden()) << hidden;
  EXPECT_EQ(run.button("btnExit")->text(), QStringLiteral("Выход"));
  EXPECT_EQ(run.button("btnRestore")->text(), QStringLiteral("Разархивация"));
  EXPECT_TRUE(Child<QPlainTextEdit>(&run.window, "memLog")->isReadOnly());
}

TEST(GuiMainWindow, ExitWithAnEmptyListEndsAtOnce) {
  WindowRun run;
  run.StartWith(0, false);
  EXPECT_TRUE(run.RunUntilQuit([&] { run.button("btnExit")->click(); }));
  EXPECT_TRUE(run.scripted.questions.empty());
  EXPECT_TRUE(run.core->Exiting());
  EXPECT_FALSE(run.window.isVisible());
}

TEST(GuiMainWindow, ExitWithEntriesAsksAndNoKeepsRunning) {
  WindowRun run;
  run.StartWith(1, true);
  DialogScript script;
  script.Expect([](QWidget* d) {
    auto* box = qobject_cast<QMessageBox*>(d);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Предупреждение"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->text(),
              QStringLiteral("Закрытие программы приведет к невозможности запуска клиентских мест, произвести выход?"));
    box->button(QMessageBox::No)->click();
  });
  run.button("btnExit")->click();
  EXPECT_EQ(script.Handled(), 1);
  EXPECT_FALSE(run.core->Exiting());
  EXPECT_TRUE(run.window.isVisible());

  script.Expect([](QWidget* d) { qobject_cast<QMessageBox*>(d)->button(QMessageBox::Yes)->click(); });
  EXPECT_TRUE(run.RunUntilQuit([&] { run.button("btnExit")->click(); }));
  EXPECT_TRUE(run.core->Exiting());
}

TEST(GuiMainWindow, TheCloseBoxHidesAndTheRunGoesOn) {
  WindowRun run;
  run.StartWith(1, false);
  ASSERT_TRUE(run.window.isVisible());
  EXPECT_FALSE(run.window.close());
  EXPECT_FALSE(run.window.isVisible());
  EXPECT_FALSE(run.core->Exiting());
  // The loop still runs after a close: only the exit ends it.
  EXPECT_TRUE(run.RunUntilQuit([&] {
    run.window.close();
    QTimer::singleShot(0, [&] { run.core->ExitProgram(); });
  }));
  EXPECT_FALSE(run.window.isVisible());
  EXPECT_TRUE(run.scripted.questions.empty());
}

TEST(GuiMainWindow, TheTrayCarriesTheCaptionAndItsMenuOpensAndExits) {
  WindowRun run;
  run.StartWith(2, false);
  QSystemTrayIcon* tray = run.window.TrayIcon();
  EXPECT_TRUE(tray->isVisible());
  EXPECT_EQ(tray->toolTip(), QStringLiteral("Менеджер баз данных")) << "the caption before the version was added";
  EXPECT_FALSE(tray->icon().isNull());

  QList<QAction*> items = run.window.TrayMenu()->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), QStringLiteral("Открыть"));
  EXPECT_EQ(run.window.TrayMenu()->defaultAction(), items[0]);
  EXPECT_TRUE(items[0]->font().bold());
  EXPECT_TRUE(items[1]->isSeparator());
  EXPECT_EQ(items[2]->text(), QStringLiteral("Выход"));

  run.window.hide();
  items[0]->trigger();
  EXPECT_TRUE(run.window.isVisible());
  // The menu's exit asks nothing even with entries in the list.
  EXPECT_TRUE(run.RunUntilQuit([&] { items[2]->trigger(); }));
  EXPECT_TRUE(run.scripted.questions.empty());
  EXPECT_TRUE(run.core->Exiting());
  run.core->Shutdown(true);
  EXPECT_FALSE(tray->isVisible());
}

// Quitting closes every window first; the open dialog must not hold the
// run, nor the main window hide itself instead of closing.
TEST(GuiMainWindow, TheTrayExitEndsTheRunWhileADialogIsOpen) {
  WindowRun run;
  run.StartWith(1, true);
  DialogScript script;
  script.Expect([&](QWidget*) { run.window.TrayMenu()->actions().last()->trigger(); });
  EXPECT_TRUE(run.RunUntilQuit([&] { run.button("btnEdit")->click(); }));
  EXPECT_EQ(script.Handled(), 1);
  EXPECT_TRUE(run.core->Exiting());
  EXPECT_FALSE(run.window.isVisible());
}

TEST(GuiMainWindow, ALongTrayTipIsCut) {
  TfrmMainQNDBMGR window;
  window.AddTrayIcon(std::string(70, 'x') + Win1251("я"));
  EXPECT_EQ(window.TrayIcon()->toolTip(), QString(63, QLatin1Char('x')));
}

TEST(GuiMainWindow, ShowMainWindowTogglesOrShows) {
  WindowRun run;
  run.StartWith(1, false);
  run.window.hide();
  run.window.ShowMainWindow(true);
  EXPECT_TRUE(run.window.isVisible());
  run.window.ShowMainWindow(true);
  EXPECT_FALSE(run.window.isVisible());
  run.window.ShowMainWindow(false);
  run.window.ShowMainWindow(false);
  EXPECT_TRUE(run.window.isVisible());
}

TEST(GuiMainWindow, WithADialogOpenTheIconBringsTheDialogForward) {
  WindowRun run;
  run.StartWith(1, true);
  DialogScript script;
  script.Expect([&](QWidget* d) {
    run.window.ShowMainWindow(true);
    EXPECT_TRUE(run.window.isVisible()) << "the dialog is the target, the window is not toggled away";
    EXPECT_TRUE(d->isVisible());
    Click(d, "btnCancel");
  });
  run.button("btnEdit")->click();
  EXPECT_EQ(script.Handled(), 1);
}

TEST(GuiMainWindow, PaneLinesFromAnyThreadReachTheMessagesPage) {
  WindowRun run;
  run.StartWith(0, false);
  auto* memLog = Child<QPlainTextEdit>(&run.window, "memLog");
  EXPECT_TRUE(ProcessUntil([&] { return memLog->toPlainText().contains("hostname is"); }))
      << "the start-up's own lines";
  std::thread writer([&] { run.core->Log().WriteLog(Win1251("Запись из потока")); });
  writer.join();
  EXPECT_TRUE(ProcessUntil([&] { return memLog->toPlainText().contains(QStringLiteral("Запись из потока")); }));
  EXPECT_EQ(static_cast<size_t>(memLog->blockCount()), run.core->Pane().LineCount());
  run.core->Pane().Clear();
  EXPECT_TRUE(ProcessUntil([&] { return memLog->toPlainText().isEmpty(); }));
}

TEST(GuiMainWindow, SavedBoundsForThisScreenWidthAreAppliedOnActivation) {
  WindowRun run;
  TfrmMainQNDBMGR probe;
  const int width = probe.ScreenWidth();
  ASSERT_GT(width, 0);
  run.StartWith(0, false, [&](TqnNode& root) { WriteWindowState(root, width, {false, 40, 30, 640, 430}); });
  run.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&run.window));
  TqnWindowGeometry g = run.window.Geometry();
  EXPECT_FALSE(g.maximized);
  EXPECT_EQ(g.left, 40);
  EXPECT_EQ(g.top, 30);
  EXPECT_EQ(g.right, 640);
  EXPECT_EQ(g.bottom, 430);

  run.window.move(60, 70);
  run.core->Shutdown(true);
  auto saved = ReadWindowState(*run.SavedSettings(), width, 100000);
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->left, 60);
  EXPECT_EQ(saved->top, 70);
  EXPECT_EQ(saved->right - saved->left, 600);
}

TEST(GuiMainWindow, TheSavedBoundsAreAppliedOnlyWhenShownFromHidden) {
  WindowRun run;
  TfrmMainQNDBMGR probe;
  const int width = probe.ScreenWidth();
  run.StartWith(0, false, [&](TqnNode& root) { WriteWindowState(root, width, {false, 40, 30, 640, 430}); });
  run.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&run.window));
  ASSERT_EQ(run.window.Geometry().left, 40);
  run.window.move(60, 70);
  // Back from another application: the move stays.
  QEvent deactivate(QEvent::WindowDeactivate), activate(QEvent::WindowActivate);
  QApplication::sendEvent(&run.window, &deactivate);
  QApplication::sendEvent(&run.window, &activate);
  EXPECT_EQ(run.window.Geometry().left, 60);
  // Shown again from the tray: the saved bounds return.
  run.window.hide();
  run.window.ShowMainWindow(false);
  QApplication::sendEvent(&run.window, &activate);
  EXPECT_EQ(run.window.Geometry().left, 40);
}

TEST(GuiMainWindow, WithoutANotificationAreaTheWindowIsMinimisedNeverHidden) {
  WindowRun run;
  run.window.SetTrayAvailable([] { return false; });
  run.StartWith(1, false);
  EXPECT_FALSE(run.window.close());
  EXPECT_TRUE(run.window.isVisible());
  EXPECT_TRUE(run.window.isMinimized());

  TfrmMainQNDBMGR hiddenStart;
  hiddenStart.SetTrayAvailable([] { return false; });
  hiddenStart.Started(false);
  EXPECT_TRUE(hiddenStart.isVisible()) << "started with --hidden=1";
  EXPECT_TRUE(hiddenStart.isMinimized());
}

TEST(GuiMainWindow, TheTrayAnswersAMiddleDoubleClickNotASingleOne) {
  WindowRun run;
  run.StartWith(1, false);
  run.window.hide();
  emit run.window.TrayIcon()->activated(QSystemTrayIcon::MiddleClick);
  EXPECT_FALSE(run.window.isVisible());
  emit run.window.TrayIcon()->activated(QSystemTrayIcon::MiddleClick);
  EXPECT_TRUE(run.window.isVisible());
}

TEST(GuiMainWindow, ASavedMaximizedStateMaximizesOnActivation) {
  WindowRun run;
  TfrmMainQNDBMGR probe;
  const int width = probe.ScreenWidth();
  run.StartWith(0, false, [&](TqnNode& root) { WriteWindowState(root, width, {true, 0, 0, 0, 0}); });
  run.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&run.window));
  EXPECT_TRUE(ProcessUntil([&] { return run.window.isMaximized(); }));
  EXPECT_TRUE(run.window.Geometry().maximized);
}

TEST(GuiMainWindow, TheBusyIndicatorShowsDuringLongWork) {
  WindowRun run;
  run.StartWith(0, false);
  auto* busy = Child<TqnInfinity>(&run.window, "infProgress");
  run.qtUi.SetBusy(true);
  EXPECT_TRUE(busy->isVisible());
  EXPECT_TRUE(busy->Animating());
  run.qtUi.SetBusy(false);
  EXPECT_FALSE(busy->isVisible());
  EXPECT_FALSE(busy->Animating());
}

TEST(GuiMainWindow, MessagesUseTheCaptionAndIconOfTheirKind) {
  TfrmMainQNDBMGR window;
  TqnQtUserInterface ui(window);
  struct Case {
    TqnMessageKind kind;
    const char* caption;
    QMessageBox::Icon icon;
  };
  const Case cases[] = {{TqnMessageKind::Warning, "Предупреждение", QMessageBox::Warning},
                        {TqnMessageKind::Error, "Ошибка", QMessageBox::Critical},
                        {TqnMessageKind::Information, "Информация", QMessageBox::Information},
                        {TqnMessageKind::Confirmation, "Подтверждение", QMessageBox::Question}};
  DialogScript script;
  for (const Case& c : cases) {
    script.Expect([&c](QWidget* d) {
      auto* box = qobject_cast<QMessageBox*>(d);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->windowTitle(), QString::fromUtf8(c.caption));
      EXPECT_EQ(box->icon(), c.icon);
      EXPECT_EQ(box->text(), QStringLiteral("первая\nвторая")) << "CR LF breaks the line once";
      box->button(QMessageBox::Yes)->click();
    });
    EXPECT_TRUE(ui.AskYesNo(c.kind, Win1251("первая\r\nвторая")));
  }
}
