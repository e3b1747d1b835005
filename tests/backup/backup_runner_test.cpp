// Server backups and restores through the runner, against the local
// Firebird 3.0 server; the verbose-line rules with lines of the test's own.
#include "backup/backup_runner.h"

#include <gtest/gtest.h>

#include <thread>

#include "backup/backup_feature.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_statement.h"
#include "firebird/fb_test_support.h"
#include "infoserver/info_packet.h"
#include "platform/sockets.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"

namespace qn {
namespace {

class Runner : public fbtest::ServerTest {
 protected:
  Runner() : clock_(2024, 3, 5, 6, 30, 12), log_(program_.path(), false, clock_, &pane_) {
    DateTime t = clock_.Now();
    t.msec = 45;
    clock_.Set(t);
    runner_ = std::make_unique<TqnBackupRunner>(connection_, log_, &ui_, clock_,
                                                TqnBackupRunnerOptions{program_.path(), "", "K9", 7985});
  }
  // A database on the Firebird 3.0 server holding one row.
  TqnBackupEntry CreateEntry(const std::string& file) {
    TqnFbConnection c;
    c.SetDatabaseName(fbtest::Fb30Path(file));
    c.CreateDatabase();
    TqnFbStatement s(c);
    s.Execute("CREATE TABLE T (NAME VARCHAR(20))");
    c.DefaultTransaction().Commit();
    s.Prepare("INSERT INTO T VALUES (:n)");
    s.SetString("n", text_);
    s.Execute();
    c.DefaultTransaction().Commit();
    return {"db0000", fbtest::Fb30Path(file), fbtest::kUser, fbtest::kPassword, dir_.path()};
  }
  std::string ReadName(const std::string& file) {
    TqnFbConnection c;
    c.SetDatabaseName(fbtest::Fb30Path(file));
    c.Attach();
    TqnFbStatement s(c);
    s.Execute("SELECT NAME FROM T");
    EXPECT_TRUE(s.Fetch());
    return s.AsString("NAME");
  }
  std::string NamedLog(const char* name) {
    std::string file = platform::JoinPath(log_.LogFolder(), log_.NamedLogFileName(name, clock_.Now()));
    return platform::FileExists(file) ? platform::ReadFile(file) : std::string();
  }
  std::string FailureOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const Exception& e) {
      return e.what();
    }
    return "<no failure>";
  }

  const std::string text_ = Win1251("Ёжик в тумане");
  TempDir program_;
  FakeClock clock_;
  TqnMessagePane pane_;
  TqnLog log_;
  ScriptedUi ui_;
  TqnFbConnection connection_;
  std::unique_ptr<TqnBackupRunner> runner_;
};

TEST_F(Runner, BacksUpARealDatabaseAndLogsTheVerboseLines) {
  TqnBackupEntry entry = CreateEntry(dir_.File("src.fd3"));
  const std::string file = dir_.File("a.bk3");
  runner_->BackupDatabase(entry, file);
  ASSERT_TRUE(platform::FileExists(file));
  EXPECT_GT(platform::ReadFile(file).size(), 0u);
  const std::string log = NamedLog("backup");
  EXPECT_NE(log.find("gbak:"), std::string::npos) << log;
  EXPECT_NE(log.find("closing file"), std::string::npos);
  EXPECT_FALSE(connection_.Attached());
  EXPECT_EQ(connection_.DatabaseName(), entry.path);
  EXPECT_TRUE(NamedLog("remotebackup").empty());
}

TEST_F(Runner, ScheduledBackupsGoIntoTheFolderWithAStampedName) {
  TqnBackupEntry entry = CreateEntry(dir_.File("src.fd3"));
  runner_->AutoBackupEntry(entry);
  const std::string file = dir_.File("auto-2024.03.05-06.30.12-045.bk3");
  EXPECT_TRUE(platform::FileExists(file));
  std::string pane;
  for (const auto& l : pane_.Lines()) pane += l;
  EXPECT_NE(pane.find(Win1251("Автоматическая архивация базы данных \"") + entry.path + Win1251("\", в файл \"") +
                      file + "\""),
            std::string::npos)
      << pane;
  entry.backupFolder = "C:\\";
  EXPECT_EQ(FailureOf([&] { runner_->AutoBackupEntry(entry); }),
            Win1251("Путь для резервных копий \"C:\\\" не доступен"));
}

TEST_F(Runner, FailuresOfTheServerAndOfThePathAreReported) {
  TqnBackupEntry missing{"db0000", fbtest::Fb30Path(dir_.File("none.fd3")), fbtest::kUser, fbtest::kPassword, ""};
  std::string message = FailureOf([&] { runner_->BackupDatabase(missing, dir_.File("x.bk3")); });
  EXPECT_NE(message, "<no failure>");
  EXPECT_FALSE(connection_.Attached());
  TqnBackupEntry noHost{"db0000", "C:\\db\\tx.fdb", "SYSDBA", "x", ""};
  EXPECT_EQ(FailureOf([&] { runner_->BackupDatabase(noHost, dir_.File("x.fbk")); }),
            Win1251("Неправильный путь к базе данных \"C:\\db\\tx.fdb\""));
  EXPECT_EQ(FailureOf([&] { runner_->RestoreDatabase(noHost, dir_.File("x.fbk"), false); }),
            Win1251("Неправильный путь к базе данных \"C:\\db\\tx.fdb\""));
  // A logical dump that cannot be read is refused with a box, not a failure.
  EXPECT_EQ(FailureOf([&] { runner_->RestoreDatabase(noHost, dir_.File("x.PBZ"), false); }), "<no failure>");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, Win1251("Формат резервной копии не поддерживается"));
}

TEST_F(Runner, RestoreMovesTheCurrentFileAsideAndRestoresIt) {
  const std::string db = dir_.File("tx.fd3");
  TqnBackupEntry entry = CreateEntry(db);
  const std::string file = dir_.File("a.bk3");
  runner_->BackupDatabase(entry, file);
  const std::string before = platform::ReadFile(db);
  runner_->RestoreDatabase(entry, file, false);
  const std::string moved = dir_.File("prev/tx-2024.03.05-06.30.12-045.fd3");
  ASSERT_TRUE(platform::FileExists(moved));
  EXPECT_EQ(platform::ReadFile(moved).size(), before.size());
  EXPECT_EQ(ReadName(db), text_);
  EXPECT_EQ(runner_->LastRequestBlock().find(kFbCharacterSet), std::string::npos);

  // The conversion mode sends the metadata fix, and the restore still succeeds.
  DateTime later = clock_.Now();
  later.second = 13;
  clock_.Set(later);
  runner_->RestoreDatabase(entry, file, true);
  EXPECT_NE(runner_->LastRequestBlock().find(std::string(1, static_cast<char>(fb::isc_spb_res_fix_fss_metadata)) +
                                             std::string("\x07\x00", 2) + kFbCharacterSet),
            std::string::npos);
  EXPECT_TRUE(platform::FileExists(dir_.File("prev/tx-2024.03.05-06.30.13-045.fd3")));
  EXPECT_EQ(ReadName(db), text_);
}

TEST_F(Runner, OnlyLocalExistingFilesAreMovedAside) {
  const std::string plain = dir_.File("tx");
  platform::WriteFileReplacing(plain, "x");
  runner_->MoveAsideCurrentFile("otherhost:" + plain);
  EXPECT_TRUE(platform::FileExists(plain));
  runner_->MoveAsideCurrentFile("localhost:" + dir_.File("absent.fdb"));
  EXPECT_FALSE(platform::DirectoryExists(dir_.File("prev")));
  runner_->MoveAsideCurrentFile("127.0.0.1:" + plain);  // no extension: none after the stamp
  EXPECT_TRUE(platform::FileExists(dir_.File("prev/tx-2024.03.05-06.30.12-045")));
  EXPECT_FALSE(platform::FileExists(plain));
}

TEST_F(Runner, OperationsFromTwoThreadsDoNotOverlap) {
  TqnBackupEntry entry = CreateEntry(dir_.File("src.fd3"));
  std::string failure;
  std::thread other([&] {
    TqnBackupJob job;
    job.remote = true;
    failure = FailureOf([&] { runner_->BackupDatabase(entry, dir_.File("remote.bk3"), job); });
  });
  std::string mine = FailureOf([&] { runner_->BackupDatabase(entry, dir_.File("local.bk3")); });
  other.join();
  EXPECT_EQ(mine, "<no failure>");
  EXPECT_EQ(failure, "<no failure>");
  EXPECT_NE(NamedLog("remotebackup").find("closing file"), std::string::npos);
}

class Verbose : public Runner {
  void SetUp() override {}  // no server needed
};

TEST_F(Verbose, OnlyTheToolsOwnFailureLinesFailNeverTheWordsInNames) {
  for (const char* line : {"gbak:    writing table LOGERRORS ", "gbak:         writing column ERROR_TEXT ",
                           "gbak:writing stored procedure CANNOT_SHIP ", "gbak:    writing domain D_FATAL ",
                           "gbak:    restoring index IDX_ERRORS", "gbak:    writing generator ERRORS value 0 "})
    EXPECT_NO_THROW(runner_->OnBackupVerbose({}, line)) << line;
  EXPECT_EQ(FailureOf([&] { runner_->OnBackupVerbose({}, "gbak: ERROR:I/O error during \"open\" \r\n\t "); }),
            "gbak: ERROR:I/O error during \"open\"");
  EXPECT_EQ(FailureOf([&] { runner_->OnBackupVerbose({}, "gbak:Exiting before completion due to errors"); }),
            "gbak:Exiting before completion due to errors");
  EXPECT_EQ(FailureOf([&] { runner_->OnRemoteBackupVerbose({}, "gbak:cannot commit index IDX_ERRORS"); }),
            "gbak:cannot commit index IDX_ERRORS");
  EXPECT_EQ(FailureOf([&] {
              runner_->OnBackupVerbose({},
                                       "gbak:Database is not online due to failure to activate one or more indices.");
            }),
            "gbak:Database is not online due to failure to activate one or more indices.");
  EXPECT_NE(NamedLog("backup").find("gbak: ERROR:I/O error during \"open\" \r\n\t \r\n"), std::string::npos);
  EXPECT_NE(NamedLog("remotebackup").find("gbak:cannot commit index IDX_ERRORS\r\n"), std::string::npos);
}

TEST_F(Verbose, EveryEleventhLineAdvancesTheIndicator) {
  for (int i = 0; i < 25; ++i) runner_->OnBackupVerbose({}, "gbak: line");
  EXPECT_EQ(runner_->ProgressSteps(), 2);
  EXPECT_EQ(runner_->VerboseLineCount(), 3);
}

TEST_F(Verbose, OnlyUdpRequestsWithANumberGetProgressPackets) {
  std::vector<std::string> sent;
  runner_->SetProgressSender([&](const std::string& address, const std::string& payload, int32_t sender) {
    sent.push_back(address + "|" + payload + "|" + std::to_string(sender));
  });
  TqnBackupJob udp{true, "10.0.0.7", 77, 42};
  TqnBackupJob tcp{true, "", 77, 42};
  TqnBackupJob unnumbered{true, "10.0.0.7", 77, 0};
  TqnBackupJob local{false, "10.0.0.7", 77, 42};
  for (const TqnBackupJob* job : {&tcp, &unnumbered, &local})
    for (int i = 0; i < 11; ++i) runner_->OnRemoteBackupVerbose(*job, "gbak: line");
  for (int i = 0; i < 11; ++i) runner_->OnBackupVerbose(local, "gbak: line");
  EXPECT_TRUE(sent.empty());
  for (int i = 0; i < 22; ++i) runner_->OnRemoteBackupVerbose(udp, "gbak: line");
  EXPECT_EQ(sent, (std::vector<std::string>(2, "10.0.0.7|database-backup-info 0000002A progress|77")));
}

TEST_F(Verbose, TheDefaultSenderFramesProgressForTheRequester) {
  auto requester = platform::UdpSocket::Bind("127.0.0.1", 0, false);
  TqnBackupRunner runner(connection_, log_, nullptr, clock_, {program_.path(), "", "K9", requester->Port()});
  for (int i = 0; i < 11; ++i) runner.OnRemoteBackupVerbose({true, "127.0.0.1", 77, 42}, "gbak: line");
  std::string data, peer;
  ASSERT_EQ(requester->Receive(data, peer, 4096, nullptr), platform::UdpSocket::ReceiveResult::Datagram);
  TqnDecodedPacket packet = DecodePacket(data, "K9");
  EXPECT_EQ(packet.payload, "database-backup-info 0000002A progress");
  EXPECT_EQ(packet.number, 77);
}

TEST(BackupDialogs, FiltersAndProposedNames) {
  DateTime t;
  t.year = 2024, t.month = 3, t.day = 5, t.hour = 6, t.minute = 30, t.second = 12, t.msec = 45;
  TqnFileDialog save = BackupSaveDialog(true, "/srv/b", t);
  EXPECT_EQ(save.filter, Win1251("Файлы резервной копии (*.bk3)|*.bk3"));
  EXPECT_EQ(save.fileName, "/srv/b/backup-2024.03.05-06.30.12-045.bk3");
  EXPECT_EQ(save.defaultExtension, "fbk");
  EXPECT_EQ(BackupSaveDialog(false, "D:\\b", t).filter, Win1251("Файлы резервной копии (*.fbk)|*.fbk"));
  TqnFileDialog open = RestoreOpenDialog(false, "D:\\b");
  EXPECT_EQ(open.filter, Win1251("Файлы резервной копии (*.fbk, *.pbz)|*.fbk;*.pbz|Конвертация версии 1.5 для 2.5 "
                                 "(*.fbk)|*.fbk"));
  EXPECT_EQ(open.folder, "D:\\b\\");
  EXPECT_TRUE(open.fileName.empty());
  EXPECT_EQ(RestoreOpenDialog(true, "").filter, Win1251("Файлы резервной копии (*.bk3, *.pbz)|*.bk3;*.pbz"));
}

}  // namespace
}  // namespace qn
