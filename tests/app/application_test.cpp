#include <gtest/gtest.h>

#include "app/application.h"
#include "app/fb30_convert.h"
#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/register.h"
#include "settings/settings_store.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"
#include "test_support/temp_dir.h"
#include "xml/xml_utils.h"

using namespace qn;

namespace {

// A run of the core over a temporary program folder.
struct CoreRun {
  TempDir dir;
  FakeClock clock{2026, 12, 6, 9, 30, 0};
  ScriptedUi ui;
  RecordingView view;
  std::unique_ptr<TqnApplication> app;
  std::vector<std::string> created;  // entries handed to the database creator

  // The private server's password is this run's own: none unless a test
  // puts one there, whatever is installed on the machine.
  CoreRun() { ::setenv("QN_FB30_DIR", dir.File("fb30").c_str(), 1); }
  ~CoreRun() { ::unsetenv("QN_FB30_DIR"); }
  void Start(bool creatorFails = false) {
    app = std::make_unique<TqnApplication>(dir.path(), ui, view, clock);
    app->SetDatabaseCreator([this, creatorFails](TqnNode& entry) {
      created.push_back(entry.Name());
      if (creatorFails) throw Exception("creation failed");
    });
    app->Startup();
  }
  void WriteSettings(const std::string& xml) { platform::WriteFileReplacing(dir.File("settings.xml"), xml); }
  std::string Settings() const { return platform::ReadFile(dir.File("settings.xml")); }
  TqnNode& Root() { return app->Settings().Root(); }
};

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n";

std::string Register(const std::string& entries, const std::string& extra = "") {
  return kHeader + "<settings>\r\n  <PIN>KEY1</PIN>\r\n  <data>\r\n" + entries + "  </data>\r\n" + extra +
         "</settings>\r\n";
}

std::string Entry(const std::string& name, const std::string& path, const std::string& caption = "") {
  return "    <" + name + ">\r\n      <path>" + path +
         "</path>\r\n      <user>SYSDBA</user>\r\n      <pwd>pw</pwd>\r\n" + "      <caption>" + caption +
         "</caption>\r\n    </" + name + ">\r\n";
}

}  // namespace

TEST(Startup, AFirstStartOffersTheFirstDatabaseAndWritesTheRegister) {
  CoreRun run;
  run.Start();
  ASSERT_EQ(run.ui.questions.size(), 1u);
  EXPECT_EQ(run.ui.questions[0].kind, TqnMessageKind::Warning);
  EXPECT_EQ(run.ui.questions[0].text,
            Win1251("Сейчас не настроено ни одной базы данных,\r\nсоздать новую пустую базу данных для программы "
                    "\"Тарвекс 7\"?"));
  EXPECT_EQ(run.created, std::vector<std::string>{"db0000"});
  EXPECT_TRUE(run.ui.messages.empty()) << run.ui.messages[0].text;
  const std::string folder = run.dir.path();
  // The new entry's identity is drawn at random; a second entry made like it
  // gets another.
  const std::string uid = run.Root().FindNode("data")->FindNode("db0000")->FindNode("uid")->Text();
  EXPECT_EQ(uid.size(), 32u);
  EXPECT_EQ(uid.find_first_not_of("0123456789abcdef"), std::string::npos) << uid;
  EXPECT_NE(uid, NewEntryId());
  EXPECT_EQ(run.Settings(), kHeader +
                                "<settings>\r\n"
                                "  <PIN>JD_LW4</PIN>\r\n"
                                "  <data>\r\n"
                                "    <db0000>\r\n"
                                "      <path>localhost/53030:" +
                                folder +
                                "/data/tx.fd3</path>\r\n"
                                "      <user>SYSDBA</user>\r\n"
                                "      <pwd>quillfern</pwd>\r\n"
                                "      <caption>" +
                                Win1251("Тарвекс 7") +
                                "</caption>\r\n"
                                "      <backup>\r\n"
                                "        <auto>0</auto>\r\n"
                                "        <path>" +
                                folder +
                                "/backup/0000</path>\r\n"
                                "        <weekdays>1111100</weekdays>\r\n"
                                "        <time>390</time>\r\n"
                                "        <num>1</num>\r\n"
                                "        <interval>60</interval>\r\n"
                                "        <rest>10</rest>\r\n"
                                "      </backup>\r\n"
                                "      <uid>" +
                                uid +
                                "</uid>\r\n"
                                "    </db0000>\r\n"
                                "  </data>\r\n"
                                "  <data_state>initialized</data_state>\r\n"
                                "</settings>\r\n");
  EXPECT_TRUE(platform::DirectoryExists(run.dir.File("data")));
  EXPECT_TRUE(platform::DirectoryExists(run.dir.File("backup/0000")));
  ASSERT_EQ(run.app->Rows().size(), 1u);
  EXPECT_EQ(run.app->Rows()[0].text, "0@" + platform::HostName() + "  (" + Win1251("Тарвекс 7") + ")");
}

// With the installation's password readable, the first database on the
// private server gets it, and entries of that server still on the fixed
// word are moved over at start, once; other servers' entries keep theirs.
TEST(Startup, ThePrivateServersEntriesTakeTheInstallationsPasswordOthersKeepTheirs) {
  const std::string own = "Zq3RkT8vLm2NpX7cWd4YhB9s";
  {
    CoreRun run;
    platform::ForceDirectories(run.dir.File("fb30"));
    platform::WriteFileReplacing(run.dir.File("fb30/sysdba.password"), own + "\n");
    run.Start();
    ASSERT_EQ(run.created, std::vector<std::string>{"db0000"});
    EXPECT_NE(run.Settings().find("<pwd>" + own + "</pwd>"), std::string::npos) << run.Settings();
    EXPECT_EQ(run.Settings().find("quillfern"), std::string::npos);
  }
  CoreRun run;
  platform::ForceDirectories(run.dir.File("fb30"));
  platform::WriteFileReplacing(run.dir.File("fb30/sysdba.password"), own + "\n");
  auto entry = [](const std::string& name, const std::string& path, const std::string& pwd) {
    return "    <" + name + ">\r\n      <path>" + path + "</path>\r\n      <user>sysdba</user>\r\n      <pwd>" + pwd +
           "</pwd>\r\n    </" + name + ">\r\n";
  };
  run.WriteSettings(Register(entry("db0000", "localhost/53030:/srv/tx.fd3", "quillfern") +
                                 entry("db0001", "127.0.0.1/53030:/srv/b.fd3", "quillfern") +
                                 entry("db0002", "localhost:/srv/old.fdb", "quillfern") +
                                 entry("db0003", "office-server/53030:/srv/c.fd3", "quillfern") +
                                 entry("db0004", "localhost/53030:/srv/d.fd3", "mine"),
                             "  <data_state>initialized</data_state>\r\n"));
  run.Start();
  auto pwd = [&](const char* name) { return run.Root().FindNode("data")->FindNode(name)->FindNode("pwd")->Text(); };
  EXPECT_EQ(pwd("db0000"), own);
  EXPECT_EQ(pwd("db0001"), own);
  EXPECT_EQ(pwd("db0002"), "quillfern") << "the classic server is not the one installed";
  EXPECT_EQ(pwd("db0003"), "quillfern") << "another machine's server";
  EXPECT_EQ(pwd("db0004"), "mine");
  EXPECT_NE(run.Settings().find("<pwd>" + own + "</pwd>"), std::string::npos) << "saved at once";
}

TEST(Startup, TheStepsRunInOrderAndFillTheStateOfTheRun) {
  CoreRun run;
  run.WriteSettings(Register(Entry("db0000", "srv:C:\\x.fdb")));
  std::vector<std::string> steps;
  run.app = std::make_unique<TqnApplication>(run.dir.path(), run.ui, run.view, run.clock);
  run.app->SetStartupHooks({[&] { steps.push_back("info servers, tray " + std::to_string(run.view.trayTips.size())); },
                            [&] { steps.push_back("fb30 check, title " + run.view.title); }});
  run.app->Startup();
  EXPECT_EQ(steps, (std::vector<std::string>{"info servers, tray 0", "fb30 check, title " + run.app->Title()}));
  EXPECT_EQ(run.view.trayTips, std::vector<std::string>{Win1251("Менеджер баз данных")});
  EXPECT_EQ(run.app->Title(), Win1251("Менеджер баз данных") + " " + TqnApplication::FileVersion());
  EXPECT_EQ(run.app->PacketKey(), "KEY1");
  EXPECT_GE(run.app->InstanceNumber(), 1);
  EXPECT_EQ(run.app->LocalHostName(), platform::HostName());
  EXPECT_TRUE(run.ui.questions.empty()) << "entries exist: no first-run question";
  EXPECT_EQ(run.Root().FindNode("data_state")->Text(), "") << "data_state stays unset when entries exist";
  std::string log = platform::ReadFile(run.dir.File("log/log-2026.12.06.txt"));
  EXPECT_NE(log.find("hostname is " + platform::HostName()), std::string::npos);
}

TEST(Startup, ADamagedSettingsFileFallsBackToItsCopyWithoutABox) {
  CoreRun run;
  std::string good = Register(Entry("db0002", "localhost:C:\\b.fdb", "copy"));
  platform::WriteFileReplacing(run.dir.File("backupcf.txt"), good);
  run.WriteSettings("<?xml version=\"1.0\"?><settings><data>");
  run.Start();
  EXPECT_TRUE(run.ui.messages.empty());
  ASSERT_EQ(run.app->Rows().size(), 1u);
  EXPECT_EQ(run.app->Rows()[0].number, 2);
  std::string log = platform::ReadFile(run.dir.File("log/log-2026.12.06.txt"));
  EXPECT_NE(log.find("can not read main file"), std::string::npos);
  EXPECT_NE(log.find("try read backup file"), std::string::npos);
}

TEST(Startup, WithNeitherFileReadableTheUserIsToldOnceAndTheRegisterIsEmpty) {
  CoreRun run;
  platform::WriteFileReplacing(run.dir.File("backupcf.txt"), "garbage");
  run.WriteSettings("garbage too");
  run.ui.answers = {false};  // decline the first database
  run.Start();
  ASSERT_EQ(run.ui.messages.size(), 1u);
  EXPECT_EQ(run.ui.messages[0].kind, TqnMessageKind::Error);
  EXPECT_EQ(run.ui.messages[0].text,
            Win1251("Ошибка чтения файла настроек, программа запущена с настройками по умолчанию"));
  EXPECT_TRUE(run.app->Rows().empty());
  EXPECT_EQ(run.ui.questions.size(), 1u);
  // The damaged file is rewritten: the question is asked once.
  EXPECT_NE(run.Settings().find("<data_state>initialized</data_state>"), std::string::npos);
}

TEST(Startup, AFailingFirstDatabaseLeavesTheQuestionForTheNextStart) {
  CoreRun run;
  run.Start(/*creatorFails=*/true);
  ASSERT_EQ(run.ui.messages.size(), 1u);
  EXPECT_EQ(run.ui.messages[0].text, "creation failed");
  EXPECT_FALSE(run.Root().FindNode("data")->FindNode("db0000")->Exists()) << "the half-made entry stays";
  EXPECT_EQ(run.Root().FindNode("data_state")->Text(), "");
  EXPECT_FALSE(platform::FileExists(run.dir.File("settings.xml"))) << "the sequence must end at the failing step";
}

TEST(Shutdown, WritesTheWindowStateAndTheSettings) {
  CoreRun run;
  run.WriteSettings(Register(""));
  run.ui.answers = {false};
  run.Start();
  run.app->WindowActivated(1280, 1024);
  run.app->Shutdown(true);
  EXPECT_EQ(run.view.trayRemovals, 1);
  EXPECT_EQ(run.Settings(), kHeader +
                                "<settings>\r\n"
                                "  <PIN>KEY1</PIN>\r\n"
                                "  <data/>\r\n"
                                "  <data_state>initialized</data_state>\r\n"
                                "  <visual>\r\n"
                                "    <main>\r\n"
                                "      <w1280>\r\n"
                                "        <state>std</state>\r\n"
                                "        <bounds>\r\n"
                                "          <left>10</left>\r\n"
                                "          <top>20</top>\r\n"
                                "          <right>542</right>\r\n"
                                "          <bottom>406</bottom>\r\n"
                                "        </bounds>\r\n"
                                "      </w1280>\r\n"
                                "    </main>\r\n"
                                "  </visual>\r\n"
                                "</settings>\r\n");
  EXPECT_NE(platform::ReadFile(run.dir.File("log/log-2026.12.06.txt")).find(Win1251("Выход из программы")),
            std::string::npos);
}

TEST(Shutdown, ARunNeverShownSavesNoGeometry) {
  CoreRun run;
  run.WriteSettings(Register(""));
  run.ui.answers = {false};
  run.Start();
  run.app->Shutdown(true);
  EXPECT_EQ(run.Settings(), kHeader +
                                "<settings>\r\n"
                                "  <PIN>KEY1</PIN>\r\n"
                                "  <data/>\r\n"
                                "  <data_state>initialized</data_state>\r\n"
                                "</settings>\r\n");
}

// Every installation starts with the same packet key: the administrator is
// told once per start while it is still in use, and never once it is changed.
TEST(Startup, TheDefaultPacketKeyIsNamedAsARiskOnce) {
  auto warnings = [](const std::string& log) {
    size_t n = 0;
    for (size_t at = log.find(DefaultPacketKeyWarning()); at != std::string::npos;
         at = log.find(DefaultPacketKeyWarning(), at + 1))
      ++n;
    return n;
  };
  CoreRun fresh;
  fresh.WriteSettings(kHeader + "<settings>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n");
  fresh.Start();
  EXPECT_EQ(fresh.app->PacketKey(), "JD_LW4");
  EXPECT_EQ(warnings(platform::ReadFile(fresh.dir.File("log/log-2026.12.06.txt"))), 1u);
  size_t inPane = 0;
  for (const auto& line : fresh.app->Pane().Lines()) inPane += warnings(line);
  EXPECT_EQ(inPane, 1u);

  CoreRun own;
  own.WriteSettings(Register(""));
  own.ui.answers = {false};
  own.Start();
  EXPECT_EQ(warnings(platform::ReadFile(own.dir.File("log/log-2026.12.06.txt"))), 0u);
}

TEST(DatabaseList, RowsShowTheShortAddressCaptionAndPath) {
  CoreRun run;
  run.WriteSettings(Register(Entry("db0003", "localhost:C:\\a&#x3C;b.fdb", Win1251("Склад")) +
                             "    <db12><path>x</path></db12>\r\n    <dbx001><path>y</path></dbx001>\r\n" +
                             Entry("db0010", "srv:C:\\c.fdb")));
  run.Start();
  const auto& rows = run.app->Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].text, "3@" + platform::HostName() + "  (" + Win1251("Склад") + ")");
  EXPECT_EQ(rows[0].path, "localhost:C:\\a<b.fdb");
  EXPECT_EQ(rows[1].text, "10@" + platform::HostName());
  EXPECT_EQ(run.app->SelectedRow(), 0);
  EXPECT_TRUE(run.app->EntryButtonsEnabled());
}

TEST(DatabaseList, RemovingTheSelectedEntrySelectsTheFirstRemaining) {
  CoreRun run;
  run.WriteSettings(
      Register(Entry("db0000", "a:C:\\0.fdb") + Entry("db0001", "a:C:\\1.fdb") + Entry("db0002", "a:C:\\2.fdb")));
  run.Start();
  run.app->SelectRow(1);
  run.ui.answers = {false};
  run.app->RemoveSelected();
  EXPECT_EQ(run.app->Rows().size(), 3u) << "No keeps the entry";
  run.app->RemoveSelected();
  EXPECT_EQ(run.ui.questions.back().text, Win1251("Удалить из списка запись о базе данных"));
  ASSERT_EQ(run.app->Rows().size(), 2u);
  EXPECT_EQ(run.app->SelectedRow(), 0);
  EXPECT_EQ(run.app->Rows()[0].number, 0);
  EXPECT_EQ(run.Settings().find("db0001"), std::string::npos) << "the removal is saved";
  run.app->RemoveSelected();
  run.app->RemoveSelected();
  EXPECT_TRUE(run.app->Rows().empty());
  EXPECT_FALSE(run.app->EntryButtonsEnabled());
  EXPECT_EQ(run.app->SelectedEntry(), nullptr);
}

TEST(DatabaseList, AVanishedEntryIsReported) {
  CoreRun run;
  run.WriteSettings(Register(Entry("db0004", "a:C:\\0.fdb")));
  run.Start();
  delete run.Root().FindNode("data")->FindNode("db0004");
  try {
    run.app->SelectedEntry();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.what(), Win1251("База данных с номером 4 не найдена"));
  }
}

TEST(Register, NumbersFollowTheHighestEntryAndIgnoreOtherNames) {
  CoreRun run;
  run.WriteSettings(Register(Entry("db0000", "a:C:\\0.fdb") + Entry("db0007", "a:C:\\7.fdb") +
                             "    <db12/>\r\n    <dbx001/>\r\n    <db99999/>\r\n"));
  run.Start();
  EXPECT_EQ(MaxEntryNumber(run.Root()), 7);
  run.ui.editors.push_back([](TqnEntryForm& f, const TqnEntryFormActions&) {
    f.createDatabase = false;
    return true;
  });
  run.app->CreateClicked();
  ASSERT_EQ(run.ui.editedForms.size(), 1u);
  EXPECT_EQ(run.ui.editedForms[0].identifier, "db0008");
  EXPECT_TRUE(run.ui.editedForms[0].creationMode);
  EXPECT_TRUE(run.ui.editedForms[0].createDatabase);
  EXPECT_EQ(run.ui.editedForms[0].path, "localhost/53030:" + run.dir.File("data/tx8.fd3"));
  EXPECT_TRUE(run.created.empty()) << "unticked: no database";
  EXPECT_EQ(run.app->Rows()[run.app->SelectedRow()].number, 8);
}

TEST(Register, CancelOrAFailingCreationRemovesTheNewEntry) {
  CoreRun run;
  run.WriteSettings(Register(Entry("db0000", "a:C:\\0.fdb")));
  run.Start(/*creatorFails=*/true);
  run.ui.editors.push_back([](TqnEntryForm&, const TqnEntryFormActions&) { return false; });
  run.app->CreateClicked();
  EXPECT_FALSE(run.Root().FindNode("data")->FindNode("db0001")->Exists());
  EXPECT_THROW(run.app->CreateClicked(), Exception);
  EXPECT_EQ(run.created, std::vector<std::string>{"db0001"});
  EXPECT_FALSE(run.Root().FindNode("data")->FindNode("db0001")->Exists());
  EXPECT_EQ(run.app->Rows().size(), 1u);
}

TEST(Register, BeyondTheLastNumberNothingIsCreated) {
  CoreRun run;
  run.WriteSettings(Register(Entry("db9999", "a:C:\\0.fdb")));
  run.Start();
  std::string before = XmlSaveString(run.Root());
  EXPECT_THROW(run.app->CreateClicked(), Exception);
  EXPECT_TRUE(run.ui.editedForms.empty());
  EXPECT_EQ(XmlSaveString(run.Root()), before);
}

TEST(Register, ConfirmedPropertiesAreSavedAndClearTheFailureMark) {
  CoreRun run;
  run.WriteSettings(Register(Entry("db0000", "a:C:\\0.fdb") + Entry("db0001", "a:C:\\1.fdb")));
  run.Start();
  run.app->SelectRow(1);
  run.app->FailureList().insert("db0001");
  run.ui.editors.push_back([](TqnEntryForm& f, const TqnEntryFormActions&) {
    f.caption = "Main base";
    f.sendPassword = false;
    return true;
  });
  run.app->EditSelected();
  EXPECT_TRUE(run.app->FailureList().empty());
  EXPECT_EQ(run.app->SelectedRow(), 1) << "the selection stays on the same number";
  EXPECT_NE(run.Settings().find("<caption>Main base</caption>"), std::string::npos);
  EXPECT_NE(run.Settings().find("<hidepwd>1</hidepwd>"), std::string::npos);
}

// The dialogs serve the window while they are open; what happened
// meanwhile stays.
TEST(Register, DialogsDoNotUndoWhatHappenedMeanwhile) {
  CoreRun run;
  TempDir data;
  const std::string file = data.File("base.fdb");
  platform::WriteFileReplacing(file, "pages");
  run.WriteSettings(Register(Entry("db0000", "localhost:" + file) + Entry("db0001", "a:C:\\1.fdb")));
  run.Start();
  auto convert = [&](const std::string& command, const std::vector<std::string>& words) {
    TqnSyncMsg msg{command, words, ""};
    DoFb30ConvertCommand(*run.app, msg);
    return msg.reply;
  };
  run.ui.editors.push_back([&](TqnEntryForm& f, const TqnEntryFormActions&) {
    EXPECT_EQ(convert(kFb30LockCommand, {kFb30LockCommand, "db0000"}),
              "database-fb30-convert-lock successfully-locked");
    platform::WriteFileReplacing(data.File("base.fd3"), "converted");  // the workstation's conversion
    EXPECT_EQ(convert(kFb30UnlockCommand, {kFb30UnlockCommand, "db0000", kFb30SwitchOption}),
              "database-fb30-convert-unlock successfully-switched");
    f.caption = "Main base";
    return true;
  });
  run.app->EditSelected();
  const TqnNode* entry = run.Root().FindNode("data")->FindNode("db0000");
  EXPECT_EQ(entry->FindNode("path")->Content().AsString(""), "localhost/53030:" + data.File("base.fd3"))
      << "the switched path was undone";
  EXPECT_EQ(entry->FindNode("caption")->Content().AsString(""), "Main base");

  // A cancelled creation leaves no row, also when the list was refilled
  // while its dialog was open.
  run.ui.editors.push_back([&](TqnEntryForm&, const TqnEntryFormActions&) {
    run.app->FillList();
    return false;
  });
  run.app->CreateClicked();
  EXPECT_EQ(run.app->Rows().size(), 2u);

  // A removed entry leaves the failure list: a later db0001 is backed up.
  run.app->FailureList().insert("db0001");
  run.app->SelectRow(1);
  run.app->RemoveSelected();
  EXPECT_TRUE(run.app->FailureList().empty());
}

TEST(Register, ThePathButtonProposesTheFileAndPointsFd3FilesAtTheNewServer) {
  CoreRun run;
  run.WriteSettings(Register(Entry("db0000", "localhost:/srv/base/old.fdb")));
  run.Start();
  std::optional<std::string> chosen3, chosenB;
  run.ui.pickedFiles = {"/d/base/tx.fd3", "/d/base/old.fdb"};
  run.ui.editors.push_back([&](TqnEntryForm& f, const TqnEntryFormActions& a) {
    chosen3 = a.choosePath(f.path);
    chosenB = a.choosePath(f.path);
    return false;
  });
  run.app->EditSelected();
  EXPECT_EQ(run.ui.lastDialog.folder, "/srv/base");
  EXPECT_EQ(run.ui.lastDialog.fileName, "old.fdb");
  EXPECT_EQ(chosen3, "localhost/53030:/d/base/tx.fd3");
  EXPECT_EQ(chosenB, "localhost:/d/base/old.fdb");
}

TEST(Exit, TheQuestionComesOnlyWithEntries) {
  CoreRun run;
  run.WriteSettings(Register(""));
  run.ui.answers = {false};
  run.Start();
  run.ui.questions.clear();
  run.app->ExitClicked();
  EXPECT_TRUE(run.ui.questions.empty());
  EXPECT_EQ(run.view.quits, 1);
  EXPECT_TRUE(run.app->Exiting());

  CoreRun full;
  full.WriteSettings(Register(Entry("db0000", "a:C:\\0.fdb")));
  full.Start();
  full.ui.answers = {false};
  full.app->ExitClicked();
  ASSERT_EQ(full.ui.questions.size(), 1u);
  EXPECT_EQ(full.ui.questions[0].text,
            Win1251("Закрытие программы приведет к невозможности запуска клиентских мест, произвести выход?"));
  EXPECT_EQ(full.view.quits, 0);
  full.app->ExitClicked();
  EXPECT_EQ(full.view.quits, 1);
}

TEST(Intercom, ActivateShowsTheWindowAndIsLoggedWithTheDebugFlag) {
  CoreRun run;
  platform::WriteFileReplacing(run.dir.File("debug.txt"), "");
  run.WriteSettings(Register(""));
  run.ui.answers = {false};
  run.Start();
  TqnIpcMessage m{};
  m.SetCommand("activate");
  run.app->HandleIntercom(m);
  m.SetCommand(std::string(31, 'z'));
  run.app->HandleIntercom(m);
  EXPECT_EQ(run.view.shows, std::vector<bool>{false});
  std::string log = platform::ReadFile(run.dir.File("log/log-2026.12.06.txt"));
  EXPECT_NE(log.find(" intercom activate\r\n"), std::string::npos);
  EXPECT_NE(log.find(" intercom " + std::string(31, 'z').substr(0, 31) + "\r\n"), std::string::npos);
  EXPECT_EQ(log.find(" intercom " + std::string(32, 'z')), std::string::npos);
}

TEST(Timers, NoBackupCheckBeforeTheStarterFired) {
  CoreRun run;
  run.WriteSettings(Register(""));
  run.ui.answers = {false};
  run.Start();
  int checks = 0;
  run.app->SetBackupCheck([&] { ++checks; });
  run.app->BackupTimerFired();
  EXPECT_EQ(checks, 0);
  run.app->StarterTimerFired();
  run.app->BackupTimerFired();
  EXPECT_EQ(checks, 1);
}
