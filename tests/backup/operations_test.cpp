// One operation at a time: what the window, the scheduler, the info server
// and the register may do while a backup, a restore or a creation runs,
// driven through a real core against the local Firebird 3.0 server.
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "backup/feature_fixture.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb30_server.h"
#include "firebird/fb_statement.h"
#include "platform/files.h"
#include "platform/named_objects.h"
#include "settings/register.h"

namespace qn {
namespace {

const char kDue[] = "        <auto>1</auto>\r\n        <weekdays>1111111</weekdays>\r\n        <time>0</time>\r\n";

class Operations : public FeatureRun {
 protected:
  // The Firebird 3.0 server counts as running, so that start-up offers no
  // installation.
  Operations() : FeatureRun(FakeClock{2026, 12, 7, 9, 15, 0}) {
    ::setenv("QN_OBJECTS_DIR", objects_.path().c_str(), 1);
    fb30Running_ = platform::NamedMutex::Create(kFb30MutexName, false);
  }
  ~Operations() override {
    fb30Running_.reset();
    ::unsetenv("QN_OBJECTS_DIR");
  }

  void CreateDatabase(const std::string& file) {
    TqnFbConnection c;
    c.SetDatabaseName(fbtest::Fb30Path(file));
    c.CreateDatabase();
  }
  std::string Folder(const std::string& name) {
    platform::ForceDirectories(dir_.File(name));
    return dir_.File(name) + "/";
  }
  const TqnNode* Entry(const std::string& name) { return RegisterOf(app_->Settings().Root())->FindNode(name); }
  std::string LastRun(const std::string& name) {
    return Entry(name)->FindNode("backup")->FindNode("stat")->FindNode("last")->Content().AsString("");
  }
  std::string FailureOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "<no failure>";
  }
  bool PaneHas(const std::string& text) {
    for (const std::string& line : app_->Pane().Lines())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  TempDir objects_;
  std::unique_ptr<platform::NamedMutex> fb30Running_;
};

TEST_F(Operations, DuringABackupTheEntryButtonsAndCreateAreOffAndDoNothing) {
  const std::string file = dir_.File("tx.fd3");
  CreateDatabase(file);
  StartWith(fbtest::Fb30Path(file), Folder("b"));
  ASSERT_TRUE(app_->EntryButtonsEnabled());
  int served = 0;
  ui_.onProcessEvents = [&] {
    if (served++) return;
    EXPECT_FALSE(app_->EntryButtonsEnabled());
    EXPECT_FALSE(app_->CreateButtonEnabled());
    app_->RemoveSelected();
    app_->CreateClicked();
    app_->EditSelected();
  };
  ui_.pickedFiles = {dir_.File("copy.bk3")};
  feature_->btnBackupClick();
  EXPECT_GT(served, 0) << "the backup served the window";
  EXPECT_TRUE(ui_.questions.empty()) << "no removal was asked for";
  EXPECT_TRUE(ui_.editedForms.empty()) << "no dialog was opened";
  EXPECT_TRUE(Entry("db0000")->Exists());
  EXPECT_EQ(app_->Rows().size(), 1u);
  EXPECT_TRUE(platform::FileExists(dir_.File("copy.bk3")));
  EXPECT_TRUE(app_->EntryButtonsEnabled());
  EXPECT_TRUE(app_->CreateButtonEnabled());
}

TEST_F(Operations, AnEntryRemovedDuringItsScheduledBackupIsNotWrittenAndTheNextOneStillRuns) {
  const std::string file = dir_.File("tx.fd3");
  CreateDatabase(file);
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(file), Folder("b0"), kDue) +
                   EntryXml("db0001", fbtest::Fb30Path(file), Folder("b1"), kDue));
  bool removed = false;
  ui_.onProcessEvents = [&] {
    if (removed) return;
    removed = true;
    app_->Settings().Change([](TqnNode& root) { delete RegisterOf(root)->FindNode("db0000"); });
  };
  app_->BackupCheckNow();
  ASSERT_TRUE(removed);
  EXPECT_FALSE(Entry("db0000")->Exists()) << "the record of its run brought it back";
  EXPECT_EQ(LastRun("db0001"), "2026-12-07 09:15") << "the walk skipped the next entry";
  EXPECT_TRUE(app_->FailureList().empty());
  EXPECT_EQ(view_.messagePages, 0);
}

TEST_F(Operations, ASchedulerTickDuringARestoreIsPostponedNotFailed) {
  const std::string file = dir_.File("tx.fd3");
  const std::string other = dir_.File("other.fd3");
  CreateDatabase(file);
  CreateDatabase(other);
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(file), Folder("b0")) +
                   EntryXml("db0001", fbtest::Fb30Path(other), Folder("b1"), kDue));
  ui_.pickedFiles = {dir_.File("copy.bk3")};
  feature_->btnBackupClick();

  int ticks = 0;
  ui_.onProcessEvents = [&] {
    if (ticks++ == 0) app_->BackupCheckNow();
  };
  ui_.pickedFiles = {dir_.File("copy.bk3")};
  feature_->btnRestoreClick();
  ASSERT_GT(ticks, 0);
  EXPECT_TRUE(app_->FailureList().empty());
  EXPECT_EQ(view_.messagePages, 0);
  EXPECT_FALSE(PaneHas(Win1251("Ошибка! ")));
  EXPECT_EQ(LastRun("db0001"), "") << "no backup inside the restore";
  EXPECT_TRUE(platform::FileExists(file));

  ui_.onProcessEvents = nullptr;
  app_->BackupCheckNow();
  EXPECT_EQ(LastRun("db0001"), "2026-12-07 09:15") << "the next tick makes it";
}

TEST_F(Operations, ARemoteBackupWaitsForADatabaseCreation) {
  const std::string file = dir_.File("tx.fd3");
  CreateDatabase(file);
  StartWith(fbtest::Fb30Path(file), Folder("b"));
  ui_.editors = {[](TqnEntryForm& form, const TqnEntryFormActions&) {
    form.password = "wrong";
    return true;
  }};
  ui_.logins = {{"SYSDBA", "quillfern"}};
  std::thread remote;
  std::atomic<bool> done{false};
  std::string remoteFailure;
  ui_.onAskLogin = [&] {
    remote = std::thread([&] {
      remoteFailure = FailureOf([&] { feature_->PerformRemoteBackup({"db0000", dir_.File("remote.bk3"), "", 0}); });
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(done) << "the remote backup ran during the creation";
  };
  app_->CreateClicked();
  ASSERT_TRUE(remote.joinable());
  remote.join();
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(remoteFailure, "<no failure>");
  EXPECT_TRUE(platform::FileExists(dir_.File("remote.bk3")));
  const TqnNode* created = Entry("db0001");
  ASSERT_TRUE(created->Exists());
  EXPECT_EQ(created->FindNode("pwd")->Content().AsString(""), "quillfern");
  TqnFbConnection c;
  c.SetDatabaseName(created->FindNode("path")->Content().AsString(""));
  c.Attach();
  TqnFbStatement query(c);
  query.Execute("select FNAME from TPROTO");
  EXPECT_EQ(fbtest::FetchRows(query), std::vector<std::string>{"TX7"});
}

TEST_F(Operations, ARemoteBackupStillWaitingAtShutdownFailsInsteadOfHoldingTheExit) {
  const std::string file = dir_.File("tx.fd3");
  CreateDatabase(file);
  StartWith(fbtest::Fb30Path(file), Folder("b"));
  std::string remoteFailure;
  std::atomic<bool> done{false};
  {
    TqnOperationLock::Hold running(services_->OperationLock());  // an operation of the main thread
    std::thread remote([&] {
      remoteFailure = FailureOf([&] { feature_->PerformRemoteBackup({"db0000", dir_.File("remote.bk3"), "", 0}); });
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done);
    services_->Stop();
    remote.join();
  }
  EXPECT_EQ(remoteFailure, "the program is shutting down");
  EXPECT_FALSE(platform::FileExists(dir_.File("remote.bk3")));
}

TEST_F(Operations, ARestoreMovesNoDatabaseInUseNorOneItCannotLogInTo) {
  const std::string file = dir_.File("tx.fd3");
  CreateDatabase(file);
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(file), Folder("b")) +
                   EntryXml("db0001", fbtest::Fb30Path(file), Folder("b"), "", "wrong"));
  ui_.pickedFiles = {dir_.File("copy.bk3")};
  feature_->btnBackupClick();
  ASSERT_TRUE(platform::FileExists(dir_.File("copy.bk3")));
  const std::string moved = dir_.File("prev/tx-2026.12.07-09.15.00-000.fd3");

  TqnFbConnection workstation;
  workstation.SetDatabaseName(fbtest::Fb30Path(file));
  workstation.Attach();
  ui_.pickedFiles = {dir_.File("copy.bk3")};
  EXPECT_EQ(FailureOf([&] { feature_->btnRestoreClick(); }),
            Format(Win1251("Невозможно переместить файл \"%s\" в \"%s\"").c_str(), file.c_str(), moved.c_str()));
  EXPECT_FALSE(platform::DirectoryExists(dir_.File("prev")));
  TqnFbStatement query(workstation);
  query.Execute("select count(*) from rdb$database");
  EXPECT_EQ(fbtest::FetchRows(query), std::vector<std::string>{"1"}) << "the workstation works on";
  query.Close();
  workstation.Detach();

  app_->SelectRow(1);
  ui_.pickedFiles = {dir_.File("copy.bk3")};
  EXPECT_NE(FailureOf([&] { feature_->btnRestoreClick(); }), "<no failure>");
  EXPECT_FALSE(platform::DirectoryExists(dir_.File("prev"))) << "a refused login moved the file";
  EXPECT_TRUE(platform::FileExists(file));

  app_->SelectRow(0);
  ui_.pickedFiles = {dir_.File("copy.bk3")};
  feature_->btnRestoreClick();
  EXPECT_TRUE(platform::FileExists(moved));
  EXPECT_TRUE(platform::FileExists(file));
}

}  // namespace
}  // namespace qn
