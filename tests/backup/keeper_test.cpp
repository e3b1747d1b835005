// Backups an office can trust, on a real core against the Firebird 3.0
// server: each backup proven by a restore, catalogued, pruned by policy,
// refused early on a full disk, and announced by mail to a real SMTP server
// on loopback and by the office's command.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "backup/backup_catalogue.h"
#include "backup/backup_names.h"
#include "backup/feature_fixture.h"
#include "cli/command_local.h"
#include "firebird/fb_services.h"
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
  // The proof restored with a cache of its own and pages filled whole.
  TqnFbRestoreRequest proof;
  proof.pageBuffers = 2048;
  proof.options = fb::isc_spb_res_create | fb::isc_spb_res_use_all_space;
  const std::string block = feature_->Runner().LastRequestBlock(), tail = RestoreRequestBlock(proof).substr(7);
  EXPECT_EQ(block.substr(block.size() - tail.size()), tail);

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
  std::vector<std::string> made;
  for (int i = 1; i <= 5; ++i) {
    clock_.Set({2026, 12, 7, 9, 15 + i, 0, 0, 1});
    made.push_back(platform::ExtractFileName(BackupFileName(bk, kAutoBackupPrefix, clock_.Now(), true)));
    ASSERT_EQ(feature_->Keeper().Make(Entry(), bk + "/" + made.back()).State(), "verified");
  }
  EXPECT_EQ(Files(bk, "auto-"), (std::vector<std::string>{made[2], made[3], made[4]}));
  EXPECT_TRUE(platform::FileExists(bk + "/mine-not.bk3"));
  EXPECT_EQ(ReadCatalogue(bk + "/").size(), 3u);

  // The database has gone: the run fails, and the three stay.
  platform::MoveFile(dir_.File("tx.fd3"), dir_.File("away.fd3"));
  EXPECT_THROW(feature_->Keeper().Make(Entry(), bk + "/auto-6.bk3"), std::exception);
  EXPECT_EQ(Files(bk, "auto-"), (std::vector<std::string>{made[2], made[3], made[4]}));
  EXPECT_EQ(Files(bk, kPartialPrefix), std::vector<std::string>{});
  EXPECT_EQ(State().state, "failed");
  const TqnStatusReport status = StatusReport(app_->Settings().Root(), clock_.Now(), false);
  EXPECT_EQ(status.exitCode, 0) << "an entry without automatic backups is not watched";
}

// Names that hold the words a backup once took for failures are common in
// accounting databases: the backup, its proof and the restore go through.
TEST_F(Keeper, NamesWithErrorFatalAndCannotBackUpVerifyAndRestore) {
  const std::string bk = dir_.File("bk");
  platform::ForceDirectories(bk);
  const std::string db = dir_.File("tx.fd3");
  CreateDatabase(db);
  std::string out;
  ASSERT_EQ(fbtest::RunIsql("create domain D_FATAL integer; create generator GEN_ERRORS; "
                            "create table LOGERRORS (ID integer not null primary key, ERROR_TEXT varchar(40), "
                            "CANNOT_SHIP D_FATAL); create index IDX_ERRORS on LOGERRORS (ERROR_TEXT); "
                            "set term ^; create procedure CANNOT_PROC as begin end^ "
                            "create trigger TR_FATAL for LOGERRORS before insert as begin end^ set term ;^ "
                            "insert into LOGERRORS values (1, 'ERROR: cannot ship', 1); commit;",
                            out, fbtest::Fb30Path(db), fbtest::kUser, fbtest::kPassword),
            0)
      << out;
  StartWith(fbtest::Fb30Path(db), bk);
  const std::string file = BackupFileName(bk, kAutoBackupPrefix, clock_.Now(), true);
  const TqnBackupOutcome outcome = feature_->Keeper().Make(Entry(), file);
  ASSERT_EQ(outcome.State(), "verified") << outcome.message;
  EXPECT_EQ(outcome.verify.restored.at("LOGERRORS"), 1);
  feature_->Runner().RestoreDatabase(Entry(), file, false);
  ASSERT_EQ(
      fbtest::RunIsql("select ERROR_TEXT from LOGERRORS;", out, fbtest::Fb30Path(db), fbtest::kUser, fbtest::kPassword),
      0);
  EXPECT_NE(out.find("ERROR: cannot ship"), std::string::npos) << out;
}

// One file named by several runs (a fixed --to name from cron, or the same
// second's name) is one backup: the newest run's, never pruned as an older one.
TEST_F(Keeper, AReusedNameKeepsTheNewestVerifiedBackup) {
  const std::string bk = dir_.File("bk");
  platform::ForceDirectories(bk);
  CreateDatabase(dir_.File("tx.fd3"));
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk, "        <rest>1</rest>\r\n        <prune>1</prune>\r\n");
  const std::string same = BackupFileName(bk, kAutoBackupPrefix, clock_.Now(), true);
  const std::string nightly = bk + "/nightly.bk3";
  for (const std::string& file : {same, nightly, same, nightly, same}) {
    ASSERT_EQ(feature_->Keeper().Make(Entry(), file).State(), "verified");
    ASSERT_TRUE(platform::FileExists(file)) << file << " was made and proven just now";
  }
  EXPECT_TRUE(platform::FileExists(nightly)) << "a name the program did not choose is never pruned";
  const std::vector<TqnCatalogueRecord> records = ReadCatalogue(bk + "/");
  ASSERT_EQ(records.size(), 2u) << "one line a file";
  EXPECT_EQ(records[1].file, platform::ExtractFileName(same));
  EXPECT_EQ(records[1].sha256, FileSha256(same));
}

// A run that fails before, or while, the server writes never deletes or
// replaces what was there: yesterday's backup, or any other file.
TEST_F(Keeper, AFailedBackupLeavesAFileThatWasThereByteForByte) {
  const std::string bk = dir_.File("bk");
  platform::ForceDirectories(bk);
  CreateDatabase(dir_.File("tx.fd3"));
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(dir_.File("tx.fd3")), bk,
                            "        <rest>1</rest>\r\n        <prune>1</prune>\r\n", "wrong-password"));
  const std::string nightly = bk + "/nightly.bk3";
  const std::string own = BackupFileName(bk, kAutoBackupPrefix, clock_.Now(), true);
  for (const std::string& file : {nightly, own}) {
    platform::WriteFileReplacing(file, "yesterday's good backup");
    EXPECT_THROW(feature_->Keeper().Make(Entry(), file), std::exception);
    EXPECT_EQ(platform::ReadFile(file), "yesterday's good backup");
  }
  EXPECT_EQ(Files(bk, kPartialPrefix), std::vector<std::string>{});
}

// Entry numbers come back when the last entry is removed; identities never:
// the new db0000 leaves the old one's backups, which may be their only copies.
TEST_F(Keeper, ANewEntryWithAReusedKeyLeavesTheRemovedEntrysBackups) {
  const std::string bk = dir_.File("bk");
  platform::ForceDirectories(bk);
  CreateDatabase(dir_.File("tx.fd3"));
  std::vector<TqnCatalogueRecord> old;
  for (int i = 0; i < 3; ++i) {
    TqnCatalogueRecord r;
    r.file = Format("auto-2026.11.0%d-06.30.00-000.bk3", i + 1);
    r.entry = "db0000";
    r.entryId = i == 2 ? "" : "0123456789abcdef0123456789abcdef";  // the last from before identities
    r.start = Format("2026-11-0%d 06:30:00", i + 1);
    r.outcome = "ok";
    r.verification = "verified";
    old.push_back(r);
    platform::WriteFileReplacing(bk + "/" + r.file, "the removed entry's backup");
  }
  WriteCatalogue(bk + "/", old);
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk, "        <rest>1</rest>\r\n        <prune>1</prune>\r\n");
  EXPECT_EQ(Entry().id.size(), 32u) << "the start gave the entry its identity";
  for (int i = 0; i < 3; ++i) {
    clock_.Set({2026, 12, 7, 10, i, 0, 0, 1});
    ASSERT_EQ(feature_->Keeper().Make(Entry(), BackupFileName(bk, kAutoBackupPrefix, clock_.Now(), true)).State(),
              "verified");
  }
  for (const TqnCatalogueRecord& r : old) EXPECT_TRUE(platform::FileExists(bk + "/" + r.file)) << r.file;
  EXPECT_EQ(Files(bk, "auto-2026.12.07").size(), 1u) << "its own backups are pruned as asked";
  // --backups lists the lines of the older catalogue, marked as never deleted,
  // and says why the entry's own backup is kept; another identity's lines
  // are not the entry's.
  TqnCommand command;
  command.kind = TqnCommandKind::Backups;
  command.key = "db0000";
  const std::string listed = AnswerReadingCommand(command, app_->Settings().Root(), clock_.Now()).out;
  EXPECT_EQ(listed.find(old[0].file), std::string::npos) << listed;
  EXPECT_NE(listed.find(old[2].file + "\t-1\tok\tverified\t0\t\t" + Win1251("не удаляется (older-catalogue)")),
            std::string::npos)
      << listed;
  EXPECT_NE(listed.find(Win1251("хранится (newest, last)")), std::string::npos) << listed;
}

// A catalogue that is there but cannot be read is not taken for an empty
// one: it stays, and the run says so.
TEST_F(Keeper, ACatalogueThatCannotBeReadIsNotRewritten) {
  const std::string bk = dir_.File("bk");
  platform::ForceDirectories(bk + "/" + kCatalogueFileName);
  std::ofstream(bk + "/" + kCatalogueFileName + "/held") << "history";
  CreateDatabase(dir_.File("tx.fd3"));
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk, "        <prune>1</prune>\r\n");
  const std::string file = BackupFileName(bk, kAutoBackupPrefix, clock_.Now(), true);
  const TqnBackupOutcome outcome = feature_->Keeper().Make(Entry(), file);
  EXPECT_EQ(outcome.State(), "failed");
  EXPECT_NE(outcome.message.find(kCatalogueFileName), std::string::npos) << outcome.message;
  EXPECT_TRUE(platform::FileExists(file)) << "the proven backup itself stands";
  EXPECT_EQ(platform::ReadFile(bk + "/" + kCatalogueFileName + "/held"), "history");
  EXPECT_EQ(State().state, "failed");
}

// A workstation is told "success" only for a backup that was proven; one
// whose proof failed is not kept under a backup's name either.
TEST_F(Keeper, ARequestedBackupWhoseProofFailsIsAnErrorAndLeavesNoBackup) {
  const std::string bk = dir_.File("bk");
  platform::ForceDirectories(bk);
  CreateDatabase(dir_.File("tx.fd3"));
  StartWith(fbtest::Fb30Path(dir_.File("tx.fd3")), bk,
            "        <verify_path>" + dir_.File("no such folder") + "</verify_path>\r\n");
  const std::string file = BackupFileName(bk, kRemoteBackupPrefix, clock_.Now(), true);
  EXPECT_THROW(feature_->PerformRemoteBackup({"db0000", file, "", 7}), std::exception);
  EXPECT_FALSE(platform::FileExists(file));
  EXPECT_EQ(Files(bk, kPartialPrefix), std::vector<std::string>{});
  EXPECT_EQ(State().state, "failed");

  // Over a name that holds last night's backup, the failed proof leaves the
  // file and what the catalogue says of it as they were.
  const std::string nightly = bk + "/nightly.bk3";
  platform::WriteFileReplacing(nightly, "last night's backup");
  std::vector<TqnCatalogueRecord> records = ReadCatalogue(bk + "/");
  TqnCatalogueRecord last;
  last.file = "nightly.bk3";
  last.entry = "db0000";
  last.entryId = Entry().id;
  last.outcome = "ok";
  last.verification = "verified";
  last.sha256 = FileSha256(nightly);
  records.push_back(last);
  WriteCatalogue(bk + "/", records);
  EXPECT_EQ(feature_->Keeper().Make(Entry(), nightly).State(), "failed");
  EXPECT_EQ(platform::ReadFile(nightly), "last night's backup");
  const std::vector<TqnCatalogueRecord> after = ReadCatalogue(bk + "/");
  bool kept = false;
  for (const TqnCatalogueRecord& r : after) kept = kept || (r.file == "nightly.bk3" && r.sha256 == last.sha256);
  EXPECT_TRUE(kept) << "the line of the file that stands stays";
}

// A folder the program may read but not change (a sandboxed service's view
// of another disk): the run fails at once, and the state, --status and the
// properties dialog say why; the server is not asked to write anything.
TEST_F(Keeper, AFolderTheProgramCannotWriteIsAFailurePeopleSee) {
  const std::string bk = dir_.File(Win1251("Копии"));
  platform::ForceDirectories(bk);
  struct Unmount {
    std::string path;
    ~Unmount() {
      if (!path.empty()) ::umount2(path.c_str(), MNT_DETACH);
    }
  } unmount;
  if (::geteuid() == 0) {
    const std::string kernel = platform::KernelFileName(bk);
    ASSERT_EQ(::mount("tmpfs", kernel.c_str(), "tmpfs", MS_RDONLY, "size=1m"), 0) << platform::LastErrorText();
    unmount.path = kernel;
  } else {
    ASSERT_EQ(::chmod(platform::KernelFileName(bk).c_str(), 0555), 0);
  }
  CreateDatabase(dir_.File("tx.fd3"));
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(dir_.File("tx.fd3")), bk,
                            "        <auto>1</auto>\r\n        <weekdays>1111111</weekdays>\r\n"));
  try {
    feature_->Keeper().Make(Entry(), BackupFileName(bk, kAutoBackupPrefix, clock_.Now(), true));
    FAIL() << "a backup into a folder the program cannot write";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find(bk), std::string::npos) << e.what();
  }
  const TqnStatusReport status = StatusReport(app_->Settings().Root(), clock_.Now(), false);
  EXPECT_EQ(status.exitCode, 2);
  EXPECT_NE(status.text.find(bk), std::string::npos) << status.text;
  ui_.messages.clear();
  app_->SelectRow(0);
  app_->EditSelected();
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].text.find(bk), std::string::npos) << ui_.messages[0].text;
  if (::geteuid() != 0) ::chmod(platform::KernelFileName(bk).c_str(), 0755);
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
    for (const std::string& n : platform::ListFiles(maildir_ + "/new"))
      texts.push_back(platform::ReadFile(maildir_ + "/new/" + n));
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
  StartWithEntries(
      EntryXml("db0000", fbtest::Fb30Path(dir_.File("tx.fd3")), bk, ""),
      "  <alerts>\r\n    <command>echo $$ > '" + pidFile + "'; exec sleep 600</command>\r\n  </alerts>\r\n");
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
