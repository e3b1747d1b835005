// The main window's presenter over a real core: the list, the buttons, the
// tray, closing and the saved geometry, as every skin of the window sees
// them; and the rules of the properties and login dialogs.
#include <gtest/gtest.h>

#include "app/dialog_rules.h"
#include "app/main_presenter.h"
#include "base/error.h"
#include "base/text.h"
#include "settings/register.h"
#include "settings/window_state.h"
#include "settings/backup_state.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"
#include "test_support/temp_dir.h"
#include "test_support/test_register.h"
#include "xml/xml_utils.h"

using namespace qn;

namespace {

// A core over a temporary program folder, seen through the presenter.
struct PresenterRun {
  TempDir dir;
  FakeClock clock{2026, 12, 8, 9, 0, 0};
  ScriptedUi ui;
  RecordingView view;
  TqnMainPresenter presenter{view};
  std::unique_ptr<TqnApplication> core;
  std::vector<std::string> created;  // entries whose database was created

  ~PresenterRun() { presenter.Attach(nullptr); }
  void Start(const TqnNode& root, TqnStartupHooks hooks = {}) {
    XmlSaveFile(root, dir.File("settings.xml"));
    core = std::make_unique<TqnApplication>(dir.path(), ui, view, clock);
    core->SetDatabaseCreator([this](TqnNode& entry) { created.push_back(entry.Name()); });
    core->SetStartupHooks(std::move(hooks));
    presenter.Attach(core.get());
    core->Startup();
    presenter.TrayIconAdded(view.trayTips.empty() ? "" : view.trayTips.back());
  }
  void StartWith(const std::vector<std::pair<int, std::string>>& entries) {
    auto root = NewSettings();
    for (auto& [n, caption] : entries) AddTestEntry(*root, n, caption, "localhost:/srv/db/" + EntryName(n) + ".fdb");
    Start(*root);
  }
  std::string Host() const { return core->LocalHostName(); }
  std::string RowText(int row) const { return presenter.Rows().at(row).text; }
  // The four entry buttons go together.
  bool EntryButtonsOn() const {
    int on = 0;
    for (TqnMainButton b :
         {TqnMainButton::Properties, TqnMainButton::Backup, TqnMainButton::Restore, TqnMainButton::Remove})
      on += presenter.ButtonEnabled(b);
    EXPECT_TRUE(on == 0 || on == 4) << on << " of the four entry buttons are on";
    return on == 4;
  }
  std::unique_ptr<TqnNode> Saved() const { return XmlLoadFile(dir.File("settings.xml"), "settings"); }
};

}  // namespace

TEST(MainPresenter, RowsShowNumberHostCaptionPathAndTheLastBackup) {
  PresenterRun run;
  auto root = ListSample();
  root->FindNode("data")->AddNode("db12")->Node("path")->SetText("x");
  run.Start(*root);

  const std::vector<TqnListRow>& rows = run.presenter.Rows();
  ASSERT_EQ(rows.size(), 3u) << "names that are not entry names are not listed";
  EXPECT_EQ(rows[0].text, "1@" + run.Host());
  EXPECT_EQ(rows[2].text, "3@" + run.Host() + Win1251("  (Склад)"));
  EXPECT_EQ(rows[2].path, "localhost/53030:/srv/db/sklad.fd3");
  EXPECT_EQ(rows[2].number, 3);
  EXPECT_EQ(rows[0].lastBackup, "");
  EXPECT_EQ(rows[1].lastBackup, Win1251("сегодня 06:30, ошибка"));
  EXPECT_EQ(run.presenter.SelectedRow(), 0) << "the first row is selected";
  EXPECT_TRUE(run.EntryButtonsOn());

  ASSERT_EQ(TqnMainPresenter::Columns().size(), 3u);
  EXPECT_EQ(UiText(TqnMainPresenter::Columns()[0].title), Win1251("Адрес подключения"));
  int shares = 0;
  for (const TqnColumn& c : TqnMainPresenter::Columns()) shares += c.share;
  EXPECT_EQ(shares, 100);
  EXPECT_EQ(run.presenter.Title(), TqnApplication::Caption() + " " + TqnApplication::FileVersion());

  EXPECT_TRUE(run.presenter.TrayAlarm());
  EXPECT_EQ(run.presenter.TrayTip(), Win1251("Менеджер баз данных\nРезервные копии: db0002 — ошибка"))
      << "the tip is the caption of the start, then the entry in trouble";
}

// A backup that was proven but could not be copied away is shown as the
// copy's trouble, in the column and in the tray tip.
TEST(MainPresenter, AFailingCopyShowsInTheColumnAndTheTrayTip) {
  PresenterRun run;
  auto root = ListSample();
  root->FindNode("data")->FindNode("db0002")->Node("backup")->Node("auto")->SetText("0");
  TqnNode* entry = root->FindNode("data")->FindNode("db0003");
  entry->Node("backup")->Node("auto")->SetText("1");
  entry->Node("backup")->Node("copy_to")->SetText("nas, usb");
  TqnEntryBackupState own;
  own.state = "verified";
  own.time = own.verified = "2026-12-08 08:30:00";
  WriteBackupState(*entry, own);
  TqnCopyState usb;
  usb.name = "usb";
  usb.state = "failed";
  usb.message = "no marker";
  WriteCopyState(*entry, usb);
  TqnCopyState nas;
  nas.name = "nas";
  nas.state = "copied";
  nas.time = nas.copied = own.time;
  WriteCopyState(*entry, nas);
  run.Start(*root);

  ASSERT_EQ(run.presenter.Rows().size(), 3u);
  EXPECT_NE(run.presenter.Rows()[2].lastBackup.find(Win1251("проверена; копия в \"usb\" не сделана")),
            std::string::npos)
      << run.presenter.Rows()[2].lastBackup;
  EXPECT_EQ(run.presenter.Rows()[2].lastBackup.find("nas"), std::string::npos);
  EXPECT_EQ(run.presenter.TrayTip(), Win1251("Менеджер баз данных\nРезервные копии: db0003 — копия: usb"))
      << run.presenter.TrayTip();
}

TEST(MainPresenter, TheLastBackupColumnSaysHowOldTheBackupIs) {
  const DateTime now{2026, 12, 9, 8, 0, 0, 0, 3};
  auto text = [&](const char* state, const char* time) {
    TqnEntryBackupState s;
    s.state = state;
    s.time = time;
    return LastBackupText(s, now);
  };
  EXPECT_EQ(text("verified", "2026-12-09 06:30:00"), Win1251("сегодня 06:30, проверена"));
  EXPECT_EQ(text("failed", "2026-12-08 23:10:05"), Win1251("вчера 23:10, ошибка"));
  EXPECT_EQ(text("failed", "2026-12-06 06:30:00"), Win1251("3 дня назад — ошибка"));
  EXPECT_EQ(text("unverified", "2026-11-18 06:30:00"), Win1251("21 день назад — не проверена"));
  EXPECT_EQ(text("verified", "2026-11-27 06:30:00"), Win1251("12 дней назад — проверена"));
  EXPECT_EQ(text("verified", "2026-10-01 06:30:00"), Win1251("01.10.2026 — проверена"));
  EXPECT_EQ(text("verified", "2026-12-10 06:30:00"), Win1251("10.12.2026 — проверена")) << "a clock set back";
  EXPECT_EQ(text("", ""), "");
}

TEST(MainPresenter, AnEmptyRegisterLeavesCreateAndExitOnAndCreateSelectsTheNewRow) {
  PresenterRun run;
  run.StartWith({});
  EXPECT_TRUE(run.presenter.Rows().empty());
  EXPECT_EQ(run.presenter.SelectedRow(), -1);
  EXPECT_FALSE(run.EntryButtonsOn());
  EXPECT_TRUE(run.presenter.ButtonEnabled(TqnMainButton::Create));
  EXPECT_TRUE(run.presenter.ButtonEnabled(TqnMainButton::Exit));
  EXPECT_FALSE(run.presenter.TrayAlarm());

  run.ui.editors.push_back([](TqnEntryForm& f, const TqnEntryFormActions&) {
    f.caption = "new";
    f.createDatabase = false;
    return true;
  });
  run.presenter.Click(TqnMainButton::Create);
  ASSERT_EQ(run.presenter.Rows().size(), 1u);
  EXPECT_EQ(run.RowText(0), "0@" + run.Host() + "  (new)");
  EXPECT_EQ(run.presenter.SelectedRow(), 0);
  EXPECT_TRUE(run.EntryButtonsOn());
  EXPECT_TRUE(run.created.empty()) << "the box was cleared";
}

TEST(MainPresenter, SelectionDrivesTheButtonsAndAButtonThatIsOffDoesNothing) {
  PresenterRun run;
  run.StartWith({{0, "a"}, {1, "b"}, {2, "c"}});
  run.presenter.SelectRow(2);
  EXPECT_EQ(run.core->SelectedEntry()->Name(), "db0002");
  run.presenter.SelectRow(-1);
  EXPECT_EQ(run.presenter.SelectedRow(), -1);
  EXPECT_FALSE(run.EntryButtonsOn());
  run.presenter.RowDoubleClicked();
  run.presenter.Click(TqnMainButton::Remove);
  EXPECT_TRUE(run.ui.editedForms.empty());
  EXPECT_TRUE(run.ui.questions.empty());
  run.presenter.SelectRow(1);
  EXPECT_TRUE(run.EntryButtonsOn());
  EXPECT_EQ(run.core->SelectedEntry()->Name(), "db0001");
}

TEST(MainPresenter, RemovingAsksAndSelectsTheFirstRemainingRow) {
  PresenterRun run;
  run.StartWith({{0, "a"}, {1, "b"}, {2, "c"}});
  run.presenter.SelectRow(1);
  run.ui.answers = {false};
  run.presenter.Click(TqnMainButton::Remove);
  EXPECT_EQ(run.presenter.Rows().size(), 3u) << "No keeps the entry";

  run.ui.answers = {true};
  run.presenter.Click(TqnMainButton::Remove);
  ASSERT_EQ(run.ui.questions.size(), 2u);
  EXPECT_EQ(run.ui.questions[1].kind, TqnMessageKind::Warning);
  EXPECT_EQ(run.ui.questions[1].text, Win1251("Удалить из списка запись о базе данных"));
  ASSERT_EQ(run.presenter.Rows().size(), 2u);
  EXPECT_EQ(run.RowText(0), "0@" + run.Host() + "  (a)");
  EXPECT_EQ(run.RowText(1), "2@" + run.Host() + "  (c)");
  EXPECT_EQ(run.presenter.SelectedRow(), 0);
  EXPECT_FALSE(RegisterOf(*run.Saved())->FindNode("db0001")->Exists()) << "the removal is saved";
}

TEST(MainPresenter, PropertiesOfTheSelectedRowUpdateTheRowAndTheFile) {
  PresenterRun run;
  run.StartWith({{0, "a"}, {3, Win1251("Склад")}});
  run.presenter.SelectRow(1);
  run.ui.editors.push_back([](TqnEntryForm& f, const TqnEntryFormActions&) {
    EXPECT_EQ(f.identifier, "db0003");
    EXPECT_FALSE(CreateBoxShown(f));
    f.caption = Win1251("Склад №2");
    return true;
  });
  run.presenter.RowDoubleClicked();
  ASSERT_EQ(run.ui.editedForms.size(), 1u);
  EXPECT_EQ(run.RowText(1), "3@" + run.Host() + Win1251("  (Склад №2)"));
  EXPECT_EQ(run.presenter.SelectedRow(), 1) << "the selection stays on the edited entry";
  EXPECT_EQ(FindEntry(*run.Saved(), 3)->FindNode("caption")->Content().AsString(""), Win1251("Склад №2"));
}

TEST(MainPresenter, CreationCancelledLeavesNoEntryAndConfirmedCreatesAndSelectsIt) {
  PresenterRun run;
  run.StartWith({{0, "a"}, {7, "b"}});
  run.presenter.SelectRow(1);
  run.ui.editors.push_back([](TqnEntryForm& f, const TqnEntryFormActions&) {
    EXPECT_EQ(f.identifier, "db0008") << "the highest number plus one";
    EXPECT_TRUE(CreateBoxShown(f));
    EXPECT_TRUE(CreateBoxTicked(f));
    return false;
  });
  run.presenter.Click(TqnMainButton::Create);
  EXPECT_EQ(run.presenter.Rows().size(), 2u);
  EXPECT_EQ(run.presenter.SelectedRow(), 1);
  EXPECT_FALSE(RegisterOf(run.core->Settings().Root())->FindNode("db0008")->Exists());
  EXPECT_TRUE(run.created.empty());

  run.ui.editors.push_back([](TqnEntryForm& f, const TqnEntryFormActions&) {
    f.caption = "fresh";
    return true;
  });
  run.presenter.Click(TqnMainButton::Create);
  ASSERT_EQ(run.presenter.Rows().size(), 3u);
  EXPECT_EQ(run.RowText(2), "8@" + run.Host() + "  (fresh)");
  EXPECT_EQ(run.presenter.SelectedRow(), 2);
  EXPECT_EQ(run.created, std::vector<std::string>{"db0008"});
}

TEST(MainPresenter, BackupAndRestoreAreCoreVerbsOffWhileAnOperationRuns) {
  PresenterRun run;
  run.StartWith({{0, "a"}});
  int restores = 0;
  run.core->SetBackupActions([] { throw Exception(Win1251("Архивация не удалась")); }, [&] { ++restores; });
  run.presenter.Click(TqnMainButton::Backup);
  ASSERT_EQ(run.ui.messages.size(), 1u) << "a failure is shown in an error box";
  EXPECT_EQ(run.ui.messages[0].kind, TqnMessageKind::Error);
  EXPECT_EQ(run.ui.messages[0].text, Win1251("Архивация не удалась"));
  EXPECT_EQ(run.presenter.Rows().size(), 1u) << "the list keeps its rows";
  run.presenter.Click(TqnMainButton::Restore);
  EXPECT_EQ(restores, 1);

  run.core->SetOperationRunning(true);
  EXPECT_TRUE(run.presenter.Busy());
  EXPECT_FALSE(run.EntryButtonsOn());
  EXPECT_FALSE(run.presenter.ButtonEnabled(TqnMainButton::Create));
  EXPECT_TRUE(run.presenter.ButtonEnabled(TqnMainButton::Exit));
  run.presenter.Click(TqnMainButton::Restore);
  run.core->RestoreSelected();
  EXPECT_EQ(restores, 1) << "no second operation while one runs";
  run.core->SetOperationRunning(false);
  EXPECT_TRUE(run.EntryButtonsOn());
}

TEST(MainPresenter, ExitAsksOnlyWithRowsAndTheTrayMenuAndTheSessionEndNever) {
  PresenterRun run;
  run.StartWith({{0, "a"}});
  run.ui.answers = {false};
  run.presenter.Click(TqnMainButton::Exit);
  ASSERT_EQ(run.ui.questions.size(), 1u);
  EXPECT_EQ(run.ui.questions[0].text,
            Win1251("Закрытие программы приведет к невозможности запуска клиентских мест, произвести выход?"));
  EXPECT_FALSE(run.core->Exiting());
  EXPECT_TRUE(run.presenter.CloseHides()) << "the close box hides while the run goes on";
  EXPECT_EQ(run.view.quits, 0);

  EXPECT_FALSE(run.presenter.TrayEvent(TqnTrayEvent::MenuExit));
  EXPECT_EQ(run.ui.questions.size(), 1u);
  EXPECT_TRUE(run.core->Exiting());
  EXPECT_EQ(run.view.quits, 1);
  EXPECT_FALSE(run.presenter.CloseHides()) << "exiting: the close goes through";

  PresenterRun empty;
  empty.StartWith({});
  empty.presenter.Click(TqnMainButton::Exit);
  EXPECT_TRUE(empty.ui.questions.empty());
  EXPECT_EQ(empty.view.quits, 1);

  PresenterRun session;
  session.StartWith({{0, "a"}});
  session.presenter.SessionEnding();
  EXPECT_TRUE(session.ui.questions.empty());
  EXPECT_EQ(session.view.quits, 1);
}

TEST(MainPresenter, TrayClicksToggleOrShowAndTheTipIsCut) {
  PresenterRun run;
  run.StartWith({{0, "a"}});
  EXPECT_FALSE(run.presenter.TrayEvent(TqnTrayEvent::PrimaryUp));
  EXPECT_FALSE(run.presenter.TrayEvent(TqnTrayEvent::MiddleDoubleClick));
  EXPECT_FALSE(run.presenter.TrayEvent(TqnTrayEvent::MenuOpen));
  EXPECT_EQ(run.view.shows, (std::vector<bool>{true, false, false})) << "only the primary click toggles";
  EXPECT_TRUE(run.presenter.TrayEvent(TqnTrayEvent::SecondaryUp)) << "the menu opens";
  EXPECT_EQ(run.view.shows.size(), 3u);

  // Middle clicks one by one: the second within the double-click time.
  run.presenter.TrayMiddleClick(1000, 500);
  run.presenter.TrayMiddleClick(1600, 500);
  EXPECT_EQ(run.view.shows.size(), 3u) << "too far apart";
  run.presenter.TrayMiddleClick(2000, 500);
  EXPECT_EQ(run.view.shows, (std::vector<bool>{true, false, false, false}));
  run.presenter.TrayMiddleClick(2100, 500);
  EXPECT_EQ(run.view.shows.size(), 4u) << "a third click starts again";

  run.presenter.TrayIconAdded(std::string(70, 'x') + Win1251("я"));
  EXPECT_EQ(run.presenter.TrayTip(), std::string(63, 'x'));
}

TEST(MainPresenter, TheWindowHidesOnlyToAnIconAndShowsTheOpenDialogFirst) {
  PresenterRun run;
  run.StartWith({{0, "a"}});
  EXPECT_EQ(run.presenter.HideWay(true), TqnHideWay::Hide);
  EXPECT_EQ(run.presenter.HideWay(false), TqnHideWay::Minimise) << "no notification area";

  // A start-up that failed before the icon was added leaves no icon.
  PresenterRun failed;
  TqnStartupHooks hooks;
  hooks.startInfoServers = [] { throw Exception("port taken"); };
  failed.Start(*NewSettings(), hooks);
  EXPECT_TRUE(failed.view.trayTips.empty());
  EXPECT_EQ(failed.presenter.HideWay(true), TqnHideWay::Minimise);
  EXPECT_EQ(failed.presenter.Title(), TqnApplication::Caption()) << "no version without the step that adds it";

  EXPECT_EQ(TqnMainPresenter::ShowTarget(true, true), TqnWindowTarget::OpenDialog);
  EXPECT_EQ(TqnMainPresenter::ShowTarget(false, true), TqnWindowTarget::ActiveWindow);
  EXPECT_EQ(TqnMainPresenter::ShowTarget(false, false), TqnWindowTarget::MainWindow);
  EXPECT_TRUE(TqnMainPresenter::ShowHides(true, TqnWindowTarget::MainWindow, true));
  EXPECT_FALSE(TqnMainPresenter::ShowHides(true, TqnWindowTarget::MainWindow, false));
  EXPECT_FALSE(TqnMainPresenter::ShowHides(true, TqnWindowTarget::OpenDialog, true))
      << "with a dialog open the icon brings the dialog forward";
  EXPECT_FALSE(TqnMainPresenter::ShowHides(false, TqnWindowTarget::MainWindow, true));
}

TEST(MainPresenter, TheSavedGeometryIsGivenAtTheFirstActivationAfterTheProgramShowedTheWindow) {
  PresenterRun run;
  auto root = NewSettings();
  WriteWindowState(*root, 1920, {false, 40, 30, 640, 430});
  run.Start(*root);
  auto g = run.presenter.WindowActivated(1920, 1080);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->left, 40);
  EXPECT_EQ(g->right, 640);
  EXPECT_FALSE(run.presenter.WindowActivated(1920, 1080)) << "back from another application: the move stays";
  run.presenter.WindowShown(false);
  EXPECT_FALSE(run.presenter.WindowActivated(1920, 1080)) << "given back by the desktop";
  run.presenter.WindowShown(true);
  EXPECT_TRUE(run.presenter.WindowActivated(1920, 1080)) << "shown again from the tray";

  run.view.geometry = {false, 60, 70, 660, 470};
  run.core->Shutdown(true);
  auto saved = ReadWindowState(*run.Saved(), 1920, 100000);
  ASSERT_TRUE(saved.has_value()) << "the screen of the activation is the one saved for";
  EXPECT_EQ(saved->left, 60);

  const TqnClientBounds client = TqnMainPresenter::ClientBounds({false, 40, 30, 640, 430}, 10, 30);
  EXPECT_EQ(client.left, 40);
  EXPECT_EQ(client.top, 30);
  EXPECT_EQ(client.width, 590);
  EXPECT_EQ(client.height, 370);
  EXPECT_EQ(TqnMainPresenter::MinimumClientSize(8, 31), std::make_pair(522, 289));
}

TEST(EntryDialogRules, TheTimeFieldTheCreationBoxAndTheLoginDefaults) {
  EXPECT_TRUE(BackupTimeComplete("06:30"));
  EXPECT_TRUE(BackupTimeComplete(" 6:30")) << "the first place may stay blank";
  EXPECT_FALSE(BackupTimeComplete("0 :30"));
  EXPECT_FALSE(BackupTimeComplete("06:3 "));
  EXPECT_FALSE(BackupTimeComplete("06-30"));
  EXPECT_FALSE(BackupTimeComplete("6:30"));

  TqnEntryForm form;
  form.createDatabase = true;
  EXPECT_FALSE(CreateBoxShown(form));
  EXPECT_FALSE(CreateBoxTicked(form)) << "outside creation mode the box is never ticked";
  TakeCreateBox(form, false);
  EXPECT_TRUE(form.createDatabase) << "nor read";
  form.creationMode = true;
  EXPECT_TRUE(CreateBoxTicked(form));
  TakeCreateBox(form, false);
  EXPECT_FALSE(form.createDatabase);

  std::string user, password = "secret";
  LoginDefaults(user, password);
  EXPECT_EQ(user, "SYSDBA");
  EXPECT_EQ(password, "secret");
  user = "ivan";
  password.clear();
  LoginDefaults(user, password);
  EXPECT_EQ(user, "ivan");
  EXPECT_EQ(password, "quillfern");
}
