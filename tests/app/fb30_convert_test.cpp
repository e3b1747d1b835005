// The conversion switch over a real register and real files: every reply of
// the lock and the unlock, the order of their tests, the switch itself, and
// the hand-over of a command from a server thread to the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/fb30_convert.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "test_support/fake_clock.h"
#include "test_support/main_loop.h"
#include "test_support/scripted_ui.h"
#include "test_support/temp_dir.h"

using namespace qn;

namespace {

const std::string kLock = "database-fb30-convert-lock ";
const std::string kUnlock = "database-fb30-convert-unlock ";

// A view that notes on which thread the list was refreshed.
class ThreadView : public RecordingView {
 public:
  std::vector<std::thread::id> listThreads;
  void ListChanged() override {
    RecordingView::ListChanged();
    listThreads.push_back(std::this_thread::get_id());
  }
};

class Fb30Convert : public ::testing::Test {
 protected:
  // Starts the core over a register with one entry per (key, path).
  void Start(const std::vector<std::pair<std::string, std::string>>& entries, bool fbIni = false) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n";
    for (const auto& [key, path] : entries)
      xml +=
          "    <" + key + ">\r\n      <path>" + path + "</path>\r\n      <user>SYSDBA</user>\r\n    </" + key + ">\r\n";
    xml += "  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
    platform::WriteFileReplacing(program.File("settings.xml"), xml);
    if (fbIni) platform::WriteFileReplacing(program.File("fb.ini"), "[default]\r\nhost=localhost\r\nport=3050\r\n");
    app = std::make_unique<TqnApplication>(program.path(), ui, view, clock);
    app->Startup();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages[0].text;
  }
  std::string Run(const std::string& command, const std::vector<std::string>& args) {
    TqnSyncMsg msg{command, {command}, ""};
    msg.arguments.insert(msg.arguments.end(), args.begin(), args.end());
    DoFb30ConvertCommand(*app, msg);
    return msg.reply;
  }
  std::string Lock(const std::string& key) { return Run(kFb30LockCommand, {key}); }
  std::string Unlock(const std::string& key, const std::string& option = "") {
    return option.empty() ? Run(kFb30UnlockCommand, {key}) : Run(kFb30UnlockCommand, {key, option});
  }
  std::string Switch(const std::string& key) { return Unlock(key, "switch-to-fb30"); }

  // A file in the data folder with some content; returns its path.
  std::string MakeFile(const std::string& name, const std::string& content = "pages") {
    platform::WriteFileReplacing(data.File(name), content);
    return data.File(name);
  }
  std::string PathOf(const std::string& key) {
    return app->Settings().Root().FindNode("data")->FindNode(key)->FindNode("path")->Content().AsString("");
  }
  void SetPath(const std::string& key, const std::string& path) {
    app->Settings().Change(
        [&](TqnNode& root) { root.FindNode("data")->FindNode(key)->FindNode("path")->Content().SetString(path); });
  }
  std::string Log() { return platform::ReadFile(program.File("log/log-2026.12.06.txt")); }

  TempDir program;
  TempDir data;
  FakeClock clock{2026, 12, 6, 9, 30, 0};
  ScriptedUi ui;
  ThreadView view;
  std::unique_ptr<TqnApplication> app;
};

}  // namespace

// ---- the lock ----

TEST_F(Fb30Convert, AnUnknownKeyIsAnErrorAndIsLogged) {
  Start({{"db0001", "localhost:" + MakeFile("base.fdb")}});
  EXPECT_EQ(Lock("db0009"), "error database-not-exists db0009");
  EXPECT_EQ(Unlock("db0007", "switch-to-fb30"), "error database-not-exists db0007");
  EXPECT_NE(Log().find("ERROR: database \"db0009\" not exists"), std::string::npos);
  EXPECT_NE(Log().find("ERROR: database \"db0007\" not exists"), std::string::npos);
  EXPECT_EQ(Run(kFb30LockCommand, {}), "error database-not-exists ") << "a missing key word counts as empty";
}

TEST_F(Fb30Convert, ALockHoldsUntilUnlockedAndKeysIgnoreCase) {
  Start({{"db0001", "localhost:" + MakeFile("base.fdb")}});
  EXPECT_EQ(Lock("DB0001"), kLock + "successfully-locked");
  EXPECT_EQ(Lock("db0001"), kLock + "already-locked");
  EXPECT_EQ(app->ConvertLockList().size(), 1u);
  EXPECT_EQ(Unlock("Db0001"), kUnlock + "successfully-unlocked");
  EXPECT_TRUE(app->ConvertLockList().empty());
  EXPECT_EQ(Lock("db0001"), kLock + "successfully-locked");
}

TEST_F(Fb30Convert, AnInvalidPathIsAnErrorWithItsMessageLogged) {
  Start({{"db0001", "ab"}, {"db0002", "//server/base.fdb"}});
  EXPECT_EQ(Lock("db0001"), "error database-wrong-path");
  EXPECT_NE(
      Log().find("ERROR: database wrong path \"ab\", " + Win1251("Недопустимое значение пути к базе данных (1): ab")),
      std::string::npos);
  EXPECT_EQ(Lock("db0002"), "error database-wrong-path");
  EXPECT_NE(Log().find(Win1251("Недопустимое значение пути к базе данных (2): //server/base.fdb")), std::string::npos);
  EXPECT_EQ(Unlock("db0001"), kUnlock + "not-locked") << "a refused lock leaves the key unlocked";
}

TEST_F(Fb30Convert, OnlyAHostOfThisMachineIsLocked) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "server2:" + file},
         {"db0002", platform::HostName() + ":" + file},
         {"db0003", "127.0.0.1:" + file},
         {"db0004", file}});
  EXPECT_EQ(Lock("db0001"), kLock + "host-is-not-local");
  EXPECT_EQ(Lock("db0002"), kLock + "successfully-locked") << "the machine's own name is local";
  EXPECT_EQ(Lock("db0003"), kLock + "successfully-locked");
  EXPECT_EQ(Lock("db0004"), kLock + "successfully-locked") << "a plain file path has no host";
}

TEST_F(Fb30Convert, AnyPortOrFbIniRefusesTheLock) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "localhost/53030:" + file},
         {"db0002", "localhost/3051:" + file},
         {"db0003", "localhost/3050:" + file}});
  EXPECT_EQ(Lock("db0001"), kLock + "already-switched");
  EXPECT_EQ(Lock("db0002"), kLock + "non-standart-port");
  EXPECT_EQ(Lock("db0003"), kLock + "non-standart-port") << "even the classic port, once written";
}

TEST_F(Fb30Convert, WithFbIniEvenAPlainPathHasANonStandardPort) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "localhost:" + file}, {"db0002", "localhost/53030:" + file}}, true);
  EXPECT_EQ(Lock("db0001"), kLock + "non-standart-port");
  EXPECT_EQ(Lock("db0002"), kLock + "already-switched") << "the port is looked at before fb.ini";
}

TEST_F(Fb30Convert, OnlyFdbFilesInAnyCaseAreLocked) {
  Start({{"db0001", "localhost:" + MakeFile("base.gdb")},
         {"db0002", "localhost:" + MakeFile("upper.FDB")},
         {"db0003", "localhost:" + MakeFile("noext")},
         {"db0004", "localhost:" + MakeFile("base.fd3")}});
  EXPECT_EQ(Lock("db0001"), kLock + "non-standart-file-ext");
  EXPECT_EQ(Lock("db0002"), kLock + "successfully-locked");
  EXPECT_EQ(Lock("db0003"), kLock + "non-standart-file-ext");
  EXPECT_EQ(Lock("db0004"), kLock + "non-standart-file-ext");
}

TEST_F(Fb30Convert, AnExistingConversionRefusesTheLock) {
  Start({{"db0001", "localhost:" + MakeFile("one.fdb")}, {"db0002", "localhost:" + MakeFile("two.fdb")}});
  MakeFile("one.fd3");
  platform::ForceDirectories(data.File("prev"));
  MakeFile("prev/two.fdb.converted");
  EXPECT_EQ(Lock("db0001"), kLock + "already-converted-1");
  EXPECT_EQ(Lock("db0002"), kLock + "already-converted-2");
  EXPECT_TRUE(app->ConvertLockList().empty());
}

TEST_F(Fb30Convert, TheFirstFailingTestGivesTheReply) {
  MakeFile("x.fd3");
  Start({{"db0001", "server2/53030:" + data.File("x.gdb")},    // remote before switched
         {"db0002", "localhost/53030:" + data.File("x.gdb")},  // switched before extension
         {"db0003", "localhost/3051:" + data.File("x.gdb")},   // port before extension
         {"db0004", "localhost:" + data.File("x.gdb")},        // extension before the .fd3 file
         {"db0005", "localhost:" + data.File("x.fdb")},        // the .fd3 file, no database file needed
         {"db0006", "localhost:" + data.File("y.fdb")}});      // the .fd3 file before the trash file
  MakeFile("y.fd3");
  platform::ForceDirectories(data.File("prev"));
  MakeFile("prev/y.fdb.converted");
  EXPECT_EQ(Lock("db0001"), kLock + "host-is-not-local");
  EXPECT_EQ(Lock("db0002"), kLock + "already-switched");
  EXPECT_EQ(Lock("db0003"), kLock + "non-standart-port");
  EXPECT_EQ(Lock("db0004"), kLock + "non-standart-file-ext");
  EXPECT_EQ(Lock("db0005"), kLock + "already-converted-1");
  EXPECT_EQ(Lock("db0006"), kLock + "already-converted-1");
}

TEST_F(Fb30Convert, OtherCommandsGetNoReply) {
  Start({{"db0001", "localhost:" + MakeFile("base.fdb")}});
  EXPECT_EQ(Run("get-fb30-support", {"db0001"}), "");
  EXPECT_EQ(Run("SET-DATABASE-FB30-CONVERT-LOCK", {"db0001"}), "");
  EXPECT_TRUE(app->ConvertLockList().empty());
}

// ---- the unlock ----

TEST_F(Fb30Convert, UnlockingWithoutTheSwitchOnlyReleasesTheLock) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "localhost:" + file}});
  EXPECT_EQ(Unlock("db0001"), kUnlock + "not-locked");
  EXPECT_EQ(Switch("db0001"), kUnlock + "not-locked");
  for (const std::string option : {"", "Switch-To-Fb30", "keep"}) {
    SCOPED_TRACE(option);
    ASSERT_EQ(Lock("db0001"), kLock + "successfully-locked");
    const std::string converted = MakeFile("base.fd3");  // ready, but not asked for
    EXPECT_EQ(Unlock("db0001", option), kUnlock + "successfully-unlocked");
    EXPECT_TRUE(app->ConvertLockList().empty());
    EXPECT_EQ(PathOf("db0001"), "localhost:" + file);
    EXPECT_TRUE(platform::FileExists(file));
    platform::DeleteFile(converted);
  }
}

TEST_F(Fb30Convert, TheSwitchWaitsForTheConvertedFile) {
  Start({{"db0001", "localhost:" + MakeFile("base.fdb")}});
  ASSERT_EQ(Lock("db0001"), kLock + "successfully-locked");
  EXPECT_EQ(Switch("db0001"), kUnlock + "converted-file-not-exists");
  EXPECT_EQ(Lock("db0001"), kLock + "already-locked") << "the key stays locked";
}

TEST_F(Fb30Convert, TheSwitchRepeatsTheLocksPathTests) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "localhost:" + file}});
  ASSERT_EQ(Lock("db0001"), kLock + "successfully-locked");
  MakeFile("base.fd3");
  // The entry is edited while it is locked.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ab", "error database-wrong-path"},
      {"server2:" + file, kUnlock + "host-is-not-local"},
      {"localhost/53030:" + file, kUnlock + "already-switched"},
      {"localhost/3051:" + file, kUnlock + "non-standart-port"},
      {"localhost:" + data.File("base.gdb"), kUnlock + "non-standart-file-ext"},
  };
  for (const auto& [path, reply] : cases) {
    SetPath("db0001", path);
    EXPECT_EQ(Switch("db0001"), reply) << path;
    EXPECT_EQ(PathOf("db0001"), path);
  }
  EXPECT_EQ(app->ConvertLockList().count("db0001"), 1u) << "refusals keep the lock";
  EXPECT_TRUE(platform::FileExists(file));
  SetPath("db0001", "ab");
  EXPECT_EQ(Unlock("db0001"), kUnlock + "successfully-unlocked") << "a plain unlock does not look at the path";
}

TEST_F(Fb30Convert, WithFbIniTheSwitchIsRefused) {
  const std::string file = MakeFile("base.fdb");
  MakeFile("base.fd3");
  Start({{"db0001", "localhost:" + file}}, true);
  app->ConvertLockList().insert("db0001");  // a lock cannot be had with fb.ini; it is set up directly
  EXPECT_EQ(Switch("db0001"), kUnlock + "non-standart-port");
}

TEST_F(Fb30Convert, AnOldConversionInTheTrashRefusesTheSwitch) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "localhost:" + file}});
  ASSERT_EQ(Lock("db0001"), kLock + "successfully-locked");
  platform::ForceDirectories(data.File("prev"));
  MakeFile("prev/base.fdb.converted", "older");
  EXPECT_EQ(Switch("db0001"), kUnlock + "converted-file-not-exists") << "the .fd3 file is looked for first";
  MakeFile("base.fd3");
  EXPECT_EQ(Switch("db0001"), kUnlock + "already-converted-2");
  EXPECT_EQ(platform::ReadFile(data.File("prev/base.fdb.converted")), "older");
  EXPECT_TRUE(platform::FileExists(file));
}

TEST_F(Fb30Convert, ATrashFolderThatCannotBeMadeRefusesTheSwitch) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "localhost:" + file}});
  ASSERT_EQ(Lock("db0001"), kLock + "successfully-locked");
  MakeFile("base.fd3");
  MakeFile("prev", "a file where the folder should be");
  EXPECT_EQ(Switch("db0001"), kUnlock + "cant-create-trash-dir");
  EXPECT_TRUE(platform::FileExists(file));
  EXPECT_EQ(PathOf("db0001"), "localhost:" + file);
  EXPECT_EQ(app->ConvertLockList().count("db0001"), 1u);
}

TEST_F(Fb30Convert, AFileThatCannotBeMovedRefusesTheSwitch) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "localhost:" + file}});
  ASSERT_EQ(Lock("db0001"), kLock + "successfully-locked");
  MakeFile("base.fd3");
  platform::DeleteFile(file);  // gone meanwhile: nothing to move
  EXPECT_EQ(Switch("db0001"), kUnlock + "cant-rename-to-trash-file");
  EXPECT_EQ(PathOf("db0001"), "localhost:" + file);
  EXPECT_EQ(app->ConvertLockList().count("db0001"), 1u);
}

TEST_F(Fb30Convert, TheSwitchRepointsTheEntryAndMovesTheOldFileAside) {
  const std::string file = MakeFile("base.fdb", "old pages");
  Start({{"db0000", "localhost:" + data.File("other.fdb")}, {"db0001", "localhost:" + file}});
  const std::string saved = platform::ReadFile(program.File("settings.xml"));
  ASSERT_EQ(Lock("db0001"), kLock + "successfully-locked");
  const std::string converted = MakeFile("base.fd3", "new pages");
  const int listChanges = view.listChanges;

  EXPECT_EQ(Switch("DB0001"), kUnlock + "successfully-switched");
  EXPECT_EQ(PathOf("db0001"), "localhost/53030:" + converted);
  EXPECT_FALSE(platform::FileExists(file));
  EXPECT_EQ(platform::ReadFile(data.File("prev/base.fdb.converted")), "old pages");
  EXPECT_EQ(platform::ReadFile(converted), "new pages");
  EXPECT_TRUE(app->ConvertLockList().empty());
  EXPECT_GT(view.listChanges, listChanges);
  ASSERT_EQ(app->Rows().size(), 2u);
  EXPECT_EQ(app->Rows()[1].path, "localhost/53030:" + converted);
  EXPECT_EQ(platform::ReadFile(program.File("settings.xml")), saved) << "the switch does not save the settings";

  EXPECT_EQ(Lock("db0001"), kLock + "already-switched");
  EXPECT_EQ(Switch("db0001"), kUnlock + "not-locked");
}

TEST_F(Fb30Convert, APlainPathIsSwitchedToTheLocalServerPort) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", file}});
  ASSERT_EQ(Lock("db0001"), kLock + "successfully-locked");
  MakeFile("base.fd3");
  EXPECT_EQ(Switch("db0001"), kUnlock + "successfully-switched");
  EXPECT_EQ(PathOf("db0001"), "/53030:" + data.File("base.fd3"));
}

// ---- from a server thread ----

TEST_F(Fb30Convert, AServerThreadsCommandRunsOnTheMainThread) {
  const std::string file = MakeFile("base.fdb");
  Start({{"db0001", "localhost:" + file}});
  TestMainLoop loop;
  const TqnMainThreadRunner runner = [&loop](const std::function<void()>& work) { loop.RunAndWait(work); };
  std::vector<std::string> replies;
  std::atomic<bool> done{false};
  std::thread server([&] {
    replies.push_back(RunFb30ConvertCommand(runner, *app, kFb30LockCommand, {kFb30LockCommand, "db0001"}));
    MakeFile("base.fd3");
    replies.push_back(
        RunFb30ConvertCommand(runner, *app, kFb30UnlockCommand, {kFb30UnlockCommand, "db0001", "switch-to-fb30", "x"}));
    done = true;
  });
  view.listThreads.clear();
  loop.Run([&] { return done.load(); });
  server.join();
  EXPECT_EQ(replies, (std::vector<std::string>{kLock + "successfully-locked", kUnlock + "successfully-switched"}));
  ASSERT_EQ(view.listThreads.size(), 1u);
  EXPECT_EQ(view.listThreads[0], std::this_thread::get_id());
}
