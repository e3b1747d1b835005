// Backups an office can trust, on a real core against the Firebird 3.0
// server: each backup proven by a restore, catalogued, pruned by policy,
// refused early on a full disk, and announced by mail to a real SMTP server
// on loopback and by the office's command.
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "backup/backup_catalogue.h"
#include "backup/feature_fixture.h"
#include "cli/command_local.h"
#include "settings/backup_state.h"
#include "settings/register.h"
#include "test_support/listening_port.h"

namespace qn {
namespace {

class Keeper : public FeatureRun {
 protected:
  Keeper() : FeatureRun(FakeClock{2026, 12, 7, 9, 15, 0}) {}

  // A database with rows in two tables, one of them named in Russian, and
  // an empty table.
  void CreateDatabase(const std::string& file) {
    {
      TqnFbConnection c;
      c.SetDatabaseName(fbtest::Fb30Path(file));
      c.CreateDatabase();
      c.DefaultTransaction().Commit();
    }
    std::string out;
    ASSERT_EQ(fbtest::RunIsql(Win1251("create table t2 (x integer); create table \"Клиенты\" (x integer); "
                                      "create table empty_t (x integer); commit; "
                                      "insert into t2 values (1); insert into t2 values (2); "
                                      "insert into \"Клиенты\" values (3); commit;"),
                              out, fbtest::Fb30Path(file), fbtest::kUser, fbtest::kPassword),
              0)
        << out;
  }
  TqnBackupEntry Entry() {
    return app_->Settings().Read([](const TqnNode& root) { return ReadBackupEntry(*FindEntry(root, 0)); });
  }
  TqnEntryBackupState State() {
    return app_->Settings().Read([](const TqnNode& root) { return ReadBackupState(*FindEntry(root, 0)); });
  }
  std::vector<std::string> Files(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const std::string& n : platform::ListFiles(folder))
      if (n.rfind(prefix, 0) == 0) names.push_back(n);
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(Keeper, ABackupIsProvenByARestoreWithEqualCountsAndCatalogued) {
  const std::string bk = dir_.File(Win1251("Архив"));
  platform::ForceDirectories(bk);
  CreateDatabase(dir_.File("tx.fd3"));
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk);
  const TqnBackupOutcome outcome = feature_->Keeper().Make(Entry(), bk + Win1251("/копия.bk3"));
  EXPECT_EQ(outcome.State(), "verified") << outcome.message;
  EXPECT_EQ(outcome.verify.restored.at("T2"), 2);
  EXPECT_EQ(Files(bk, kScratchPrefix), std::vector<std::string>{}) << "the scratch database is gone";

  const std::vector<TqnCatalogueRecord> records = ReadCatalogue(bk + "/");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].file, Win1251("копия.bk3"));
  EXPECT_EQ(records[0].entry, "db0000");
  EXPECT_EQ(records[0].size, platform::FileSize(bk + Win1251("/копия.bk3")));
  EXPECT_EQ(records[0].sha256, FileSha256(bk + Win1251("/копия.bk3")));
  EXPECT_EQ(records[0].verification, "verified");
  EXPECT_EQ(ParseRecordCounts(records[0].counts),
            (TqnRecordCounts{{"EMPTY_T", 0}, {"T2", 2}, {Win1251("Клиенты"), 1}}));
  EXPECT_EQ(State().state, "verified");
  EXPECT_EQ(State().verified, "2026-12-07 09:15:00");

  // A scratch database left by a run that ended abruptly goes at the next start.
  std::ofstream(bk + "/" + kScratchPrefix + "2026.12.07-09.00.00-000.fd3") << "left over";
  feature_.reset();
  services_.reset();
  app_.reset();
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk);
  EXPECT_EQ(Files(bk, kScratchPrefix), std::vector<std::string>{});
}

TEST_F(Keeper, ATruncatedOrChangedBackupFailsItsProofAndTheLiveDatabaseStays) {
  const std::string bk = dir_.File("bk");
  platform::ForceDirectories(bk);
  CreateDatabase(dir_.File("tx.fd3"));
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk);
  const std::string good = bk + "/good.bk3";
  ASSERT_EQ(feature_->Keeper().Make(Entry(), good).State(), "verified");
  const std::string bytes = platform::ReadFile(good);
  const auto liveSize = platform::FileSize(dir_.File("tx.fd3"));

  std::string file = "";
  EXPECT_EQ(feature_->Keeper().VerifyFile(Entry(), file).state, TqnVerifyResult::State::Verified);
  EXPECT_EQ(file, good) << "without a file, the newest catalogued backup";

  const std::string cut = bk + "/cut.bk3";
  platform::WriteFileReplacing(cut, bytes.substr(0, bytes.size() / 2));
  file = cut;
  const TqnVerifyResult truncated = feature_->Keeper().VerifyFile(Entry(), file);
  EXPECT_EQ(truncated.state, TqnVerifyResult::State::Failed);
  EXPECT_FALSE(truncated.reason.empty());

  std::string changed = bytes;
  changed[changed.size() - 3] ^= 0x01;
  platform::WriteFileReplacing(good, changed);
  file = good;
  const TqnVerifyResult altered = feature_->Keeper().VerifyFile(Entry(), file);
  EXPECT_EQ(altered.state, TqnVerifyResult::State::Failed);
  EXPECT_NE(altered.reason.find("SHA-256"), std::string::npos) << altered.reason;

  EXPECT_EQ(Files(bk, kScratchPrefix), std::vector<std::string>{});
  EXPECT_EQ(platform::FileSize(dir_.File("tx.fd3")), liveSize);
  std::string out;
  fbtest::RunIsql("select count(*) from t2;", out, fbtest::Fb30Path(dir_.File("tx.fd3")), fbtest::kUser,
                  fbtest::kPassword);
  EXPECT_NE(out.find(" 2"), std::string::npos) << out;
}

TEST_F(Keeper, PruningKeepsRestBackupsAndNothingGoesAfterAFailedRun) {
  const std::string bk = dir_.File("bk");
  platform::ForceDirectories(bk);
  CreateDatabase(dir_.File("tx.fd3"));
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk, "        <rest>3</rest>\r\n        <prune>1</prune>\r\n");
  std::ofstream(bk + "/mine-not.bk3") << "a file the program did not make";
  for (int i = 1; i <= 5; ++i)
    ASSERT_EQ(feature_->Keeper().Make(Entry(), bk + "/auto-" + std::to_string(i) + ".bk3").State(), "verified");
  EXPECT_EQ(Files(bk, "auto-"), (std::vector<std::string>{"auto-3.bk3", "auto-4.bk3", "auto-5.bk3"}));
  EXPECT_TRUE(platform::FileExists(bk + "/mine-not.bk3"));
  EXPECT_EQ(ReadCatalogue(bk + "/").size(), 3u);

  // The database has gone: the run fails, and the three stay.
  platform::MoveFile(dir_.File("tx.fd3"), dir_.File("away.fd3"));
  EXPECT_THROW(feature_->Keeper().Make(Entry(), bk + "/auto-6.bk3"), std::exception);
  EXPECT_EQ(Files(bk, "auto-"), (std::vector<std::string>{"auto-3.bk3", "auto-4.bk3", "auto-5.bk3"}));
  EXPECT_EQ(State().state, "failed");
  const TqnStatusReport status = StatusReport(app_->Settings().Root(), clock_.Now(), false);
  EXPECT_EQ(status.exitCode, 0) << "an entry without automatic backups is not watched";
}

// A small full disk: a tmpfs mount needs root.
TEST_F(Keeper, TooLittleFreeSpaceFailsAtOnceAndOlderBackupsStay) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const std::string bk = dir_.File("small");
  platform::ForceDirectories(bk);
  ASSERT_EQ(::mount("tmpfs", bk.c_str(), "tmpfs", 0, "size=2m"), 0) << platform::LastErrorText();
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{bk};
  CreateDatabase(dir_.File("tx.fd3"));
  // An older backup of 1.5 MB, catalogued: the next needs as much again.
  platform::WriteFileReplacing(bk + "/old.bk3", std::string(1536 * 1024, 'x'));
  TqnCatalogueRecord old;
  old.file = "old.bk3";
  old.entry = "db0000";
  old.size = 1536 * 1024;
  old.outcome = "ok";
  old.verification = "verified";
  WriteCatalogue(bk + "/", {old});
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk);
  try {
    feature_->Keeper().Make(Entry(), bk + "/new.bk3");
    FAIL() << "the backup ran into a full disk";
  } catch (const std::exception& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find(bk), std::string::npos) << message;
    EXPECT_NE(message.find(Win1251("нужно не менее")), std::string::npos) << message;
  }
  EXPECT_FALSE(platform::FileExists(bk + "/new.bk3"));
  EXPECT_EQ(platform::FileSize(bk + "/old.bk3"), 1536 * 1024);
}

// A real SMTP server on loopback (Debian's python3-aiosmtpd), storing each
// message it accepts as a file of a Maildir.
class SmtpServer {
 public:
  SmtpServer(const std::string& maildir, uint16_t port) : maildir_(maildir) {
    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string listen = "127.0.0.1:" + std::to_string(port);
      ::execl("/usr/bin/python3", "python3", "-m", "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
              "aiosmtpd.handlers.Mailbox", maildir.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 100 && PortIsFree(SOCK_STREAM, port); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ~SmtpServer() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const std::string& n : platform::ListFiles(maildir_ + "/new")) texts.push_back(platform::ReadFile(maildir_ + "/new/" + n));
    return texts;
  }

 private:
  std::string maildir_;
  pid_t pid_;
};

TEST_F(Keeper, AFailureMailsOnceAndRunsTheCommandOnceTheRecoveryOnceMoreASuccessNothing) {
  if (::system("/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null") != 0)
    GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/install-deps.sh installs it)";
  const uint16_t port = ListeningPort();
  SmtpServer smtp(dir_.File("mail"), port);
  CreateDatabase(dir_.File("tx.fd3"));
  const std::string bk = dir_.File(Win1251("Копии"));  // not there yet: the server cannot write
  const std::string events = dir_.File("events.txt");
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(dir_.File("tx.fd3")), bk,
                            "        <auto>1</auto>\r\n        <weekdays>1111111</weekdays>\r\n"),
                   "  <alerts>\r\n    <smtp>\r\n      <host>127.0.0.1</host>\r\n      <port>" + std::to_string(port) +
                       "</port>\r\n      <from>qndbmgr@office.test</from>\r\n      <to>admin@office.test, "
                       "it@contractor.test</to>\r\n    </smtp>\r\n    <command>echo \"$QN_EVENT $QN_ENTRY\" >> " +
                       events + "</command>\r\n  </alerts>\r\n");
  for (int i = 0; i < 2; ++i) EXPECT_THROW(feature_->Keeper().Make(Entry(), bk + "/auto-f.bk3"), std::exception);
  EXPECT_EQ(StatusReport(app_->Settings().Root(), clock_.Now(), false).exitCode, 2);
  ASSERT_TRUE(feature_->Alerts().WaitIdle(60000));
  ASSERT_EQ(smtp.Messages().size(), 1u);
  const std::string mail = smtp.Messages()[0];
  EXPECT_NE(mail.find("admin@office.test"), std::string::npos);
  EXPECT_NE(mail.find("db0000"), std::string::npos) << mail;
  EXPECT_NE(mail.find("auto-f.bk3"), std::string::npos) << "the error names the file:\n" << mail;
  EXPECT_EQ(platform::ReadFile(events), "failed db0000\n");

  platform::ForceDirectories(bk);
  EXPECT_EQ(feature_->Keeper().Make(Entry(), bk + "/auto-1.bk3").State(), "verified");
  EXPECT_EQ(feature_->Keeper().Make(Entry(), bk + "/auto-2.bk3").State(), "verified");
  ASSERT_TRUE(feature_->Alerts().WaitIdle(60000));
  EXPECT_EQ(smtp.Messages().size(), 2u);
  EXPECT_EQ(platform::ReadFile(events), "failed db0000\nrecovered db0000\n");
  EXPECT_EQ(StatusReport(app_->Settings().Root(), clock_.Now(), false).exitCode, 0);

  // Two days on without a verified backup: stale, announced once.
  clock_.Set({2026, 12, 9, 9, 16, 0, 0, 3});
  EXPECT_EQ(StatusReport(app_->Settings().Root(), clock_.Now(), false).exitCode, 1);
  feature_->CheckStale();
  feature_->CheckStale();
  ASSERT_TRUE(feature_->Alerts().WaitIdle(60000));
  EXPECT_EQ(platform::ReadFile(events), "failed db0000\nrecovered db0000\nstale db0000\n");
  EXPECT_EQ(smtp.Messages().size(), 3u);
  const std::string json = StatusReport(app_->Settings().Root(), clock_.Now(), true).text;
  EXPECT_NE(json.find("\"state\":\"stale\""), std::string::npos) << json;
}

// A hook that never ends holds up neither the next backup nor the run's end.
TEST_F(Keeper, AHookThatHangsDelaysNeitherTheNextBackupNorTheEnd) {
  CreateDatabase(dir_.File("tx.fd3"));
  const std::string bk = dir_.File(Win1251("Копии"));  // not there yet: the first backup fails
  const std::string pidFile = dir_.File("hook.pid");
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(dir_.File("tx.fd3")), bk, ""),
                   "  <alerts>\r\n    <command>echo $$ > '" + pidFile +
                       "'; exec sleep 600</command>\r\n  </alerts>\r\n");
  EXPECT_THROW(feature_->Keeper().Make(Entry(), bk + "/f.bk3"), std::exception);
  for (int i = 0; i < 200 && !platform::FileExists(pidFile); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(platform::FileExists(pidFile)) << "the failure's hook started";
  platform::ForceDirectories(bk);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(feature_->Keeper().Make(Entry(), bk + "/1.bk3").State(), "verified");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
  EXPECT_FALSE(feature_->Alerts().WaitIdle(100)) << "the hook still hangs";
  const pid_t hook = std::stoi(platform::ReadFile(pidFile));
  const auto ending = std::chrono::steady_clock::now();
  feature_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - ending, std::chrono::seconds(5));
  EXPECT_NE(::kill(hook, 0), 0) << "the hook was ended with the run";
}

}  // namespace
}  // namespace qn
