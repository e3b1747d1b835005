// Every proven backup copied to the destinations of its entry, on a real
// core against the Firebird 3.0 server: the copy lands checked and
// catalogued in a marked folder; a folder without its marker (an unmounted
// disk's mount point) is refused, alerted and left untouched; a slow
// destination holds up neither the next backup nor the operation lock; and
// a new program folder restores the database from the destination alone.
#include "backup/feature_fixture.h"

#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "backup/destinations.h"
#include "base/text.h"
#include "cli/command_executor.h"
#include "firebird/fb_test_support.h"
#include "platform/files.h"
#include "settings/backup_state.h"
#include "settings/register.h"
#include "storage/folder_storage.h"
#include "storage/moto_server.h"
#include "storage/s3_storage.h"
#include "storage/sshd_server.h"

namespace qn {
namespace {

std::string Slurp(const std::string& kernelPath) {
  std::ifstream in(kernelPath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Holds a copy's bytes back until the test opens it.
class GatedSource : public storage::ByteSource {
 public:
  GatedSource(std::unique_ptr<storage::ByteSource> inner, std::atomic<bool>& open, std::atomic<int>& started)
      : inner_(std::move(inner)), open_(open) {
    ++started;
  }
  int64_t Size() const override { return inner_->Size(); }
  size_t Read(char* buffer, size_t capacity) override {
    while (!open_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return inner_->Read(buffer, capacity);
  }

 private:
  std::unique_ptr<storage::ByteSource> inner_;
  std::atomic<bool>& open_;
};

class DestinationCopy : public FeatureRun {
 protected:
  DestinationCopy() : FeatureRun(FakeClock{2026, 12, 9, 6, 30, 0}) {}

  void SetUp() override {
    FeatureRun::SetUp();
    if (IsSkipped()) return;
    database_ = dir_.File("tx.fd3");
    std::string out;
    ASSERT_EQ(fbtest::RunIsql("create database '" + fbtest::Fb30Path(database_) +
                                  "' user 'SYSDBA' password 'quillfern'; create table t (x integer); commit; "
                                  "insert into t values (1); insert into t values (2); insert into t values (3); "
                                  "commit;",
                              out),
              0)
        << out;
    nas_ = dir_.path() + Win1251("/Копии на NAS");
    usb_ = dir_.File("usb");
    platform::ForceDirectories(nas_);
    platform::ForceDirectories(usb_);
    platform::ForceDirectories(dir_.File("local"));
    alerts_ = dir_.File("alerts.txt");
  }

  std::string Settings(const std::string& usbPath) const {
    return "  <destinations>\r\n    <d0><name>nas</name><kind>folder</kind><path>" + nas_ +
           "</path><keep_last>2</keep_last></d0>\r\n    <d1><name>usb</name><kind>folder</kind><path>" + usbPath +
           "</path></d1>\r\n  </destinations>\r\n  <alerts><command>echo \"$QN_EVENT $QN_MESSAGE\" | tee -a '" +
           alerts_ + "'</command></alerts>\r\n";
  }
  void Start(const std::string& copyTo, const std::string& usbPath) {
    StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(database_), dir_.File("local"),
                              "        <auto>1</auto>\r\n        <copy_to>" + copyTo + "</copy_to>\r\n"),
                     Settings(usbPath));
    executor_ = std::make_unique<TqnCommandExecutor>(*app_, *feature_);
  }
  ~DestinationCopy() override { executor_.reset(); }

  TqnCommandResult Run(TqnCommandKind kind, const std::string& key, const std::string& file = "") {
    TqnCommand c;
    c.kind = kind;
    c.key = key;
    c.file = file;
    return executor_->Execute(c);
  }
  TqnCopyState CopyState(const std::string& destination) {
    return app_->Settings().Read(
        [&](const TqnNode& root) { return ReadCopyState(*RegisterOf(root)->FindNode("db0000"), destination); });
  }
  // A backup at this minute of the test's hour, its copies tried.
  void BackupAt(int minute) {
    DateTime at = clock_.Now();
    at.minute = minute;
    clock_.Set(at);
    const TqnCommandResult r = Run(TqnCommandKind::Backup, "db0000");
    ASSERT_TRUE(r.ok) << r.text;
    ASSERT_TRUE(feature_->WaitForCopies(120000));
  }
  std::string Alerts() {
    feature_->Alerts().WaitIdle(10000);
    return Slurp(alerts_);
  }

  std::string database_, nas_, usb_, alerts_;
  std::unique_ptr<TqnCommandExecutor> executor_;
};

TEST_F(DestinationCopy, AProvenBackupLandsCheckedAndCataloguedAndAnUnmarkedFolderIsRefusedUntouched) {
  Start("nas, usb", usb_);
  const TqnCommandResult init = Run(TqnCommandKind::InitDestination, "nas");
  ASSERT_TRUE(init.ok) << init.text;
  EXPECT_TRUE(platform::FileExists(nas_ + "/" + kDestinationMarkerName));

  const std::string file = dir_.File("local/backup-2026.12.09-06.30.00-000.bk3");
  const TqnCommandResult backup = Run(TqnCommandKind::Backup, "db0000");
  ASSERT_TRUE(backup.ok) << backup.text;
  ASSERT_TRUE(feature_->WaitForCopies(120000));

  // At the marked folder: the same bytes under the entry's name, and a
  // catalogue of its own that says what they are.
  const std::string object = "db0000-backup-2026.12.09-06.30.00-000.bk3";
  ASSERT_TRUE(platform::FileExists(nas_ + "/" + object)) << CopyState("nas").message;
  EXPECT_EQ(Slurp(platform::KernelFileName(nas_ + "/" + object)), Slurp(file));
  const std::vector<TqnCatalogueRecord> there = ReadCatalogue(nas_ + "/");
  ASSERT_EQ(there.size(), 1u);
  EXPECT_EQ(there[0].file, object);
  EXPECT_EQ(there[0].sha256, FileSha256(file));
  EXPECT_EQ(there[0].verification, "verified");
  EXPECT_NE(there[0].counts.find("T"), std::string::npos) << there[0].counts;
  EXPECT_EQ(CopyState("nas").state, "copied");

  // The folder without its marker: nothing written, failed, alerted once.
  EXPECT_TRUE(TempDir::ListDir(usb_).empty());
  const TqnCopyState usb = CopyState("usb");
  EXPECT_EQ(usb.state, "failed");
  EXPECT_NE(usb.message.find(kDestinationMarkerName), std::string::npos) << usb.message;
  EXPECT_NE(Alerts().find("failed"), std::string::npos);
  const std::vector<TqnStatusLine> status =
      app_->Settings().Read([&](const TqnNode& root) { return BackupStatus(root, clock_.Now()); });
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].health, TqnBackupHealth::Failed);
  ASSERT_EQ(status[0].copies.size(), 2u);
  EXPECT_EQ(status[0].copies[0].health, TqnBackupHealth::Ok);
  EXPECT_EQ(status[0].copies[1].health, TqnBackupHealth::Failed);

  // A second failure is no second alert.
  BackupAt(45);
  const std::string alerts = Alerts();
  EXPECT_EQ(alerts.find("failed"), alerts.rfind("failed")) << alerts;
  EXPECT_TRUE(TempDir::ListDir(usb_).empty());
  EXPECT_EQ(ReadCatalogue(nas_ + "/").size(), 2u);

  // The disk prepared, the next start makes the copy it missed, of the
  // newest backup, and says it recovered.
  ASSERT_TRUE(Run(TqnCommandKind::InitDestination, "usb").ok);
  executor_.reset();
  feature_.reset();
  services_.reset();
  app_.reset();
  app_ = std::make_unique<TqnApplication>(program_.path(), ui_, view_, clock_);
  services_ = std::make_unique<TqnRunServices>(*app_, [](const std::function<void()>& w) { w(); });
  feature_ = std::make_unique<TqnBackupFeature>(*app_, *services_, view_);
  app_->Startup();
  ASSERT_TRUE(feature_->WaitForCopies(120000));
  EXPECT_EQ(CopyState("usb").state, "copied") << CopyState("usb").message;
  EXPECT_TRUE(platform::FileExists(usb_ + "/db0000-backup-2026.12.09-06.45.00-000.bk3"));
  EXPECT_FALSE(platform::FileExists(usb_ + "/db0000-backup-2026.12.09-06.30.00-000.bk3"));
  EXPECT_NE(Alerts().find("recovered"), std::string::npos);
}

// The properties dialog's copies page: what it offers, what it stores, and
// the marker it offers only once a destination is newly chosen.
TEST_F(DestinationCopy, ThePropertiesDialogChoosesDestinationsAndMarksOnlyAFolderThatIsThere) {
  const std::string unplugged = dir_.File("usb-unplugged");
  Start("", unplugged);
  std::vector<TqnCopyChoice> offered;
  ui_.editors.push_back([&](TqnEntryForm& form, const TqnEntryFormActions&) {
    offered = form.copies;
    for (TqnCopyChoice& c : form.copies) c.ticked = true;
    return true;
  });
  app_->SelectRow(0);
  app_->EditSelected();
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[0].name, "nas");
  EXPECT_FALSE(offered[0].ticked);
  EXPECT_NE(offered[0].label.find(nas_), std::string::npos) << offered[0].label;
  EXPECT_NE(offered[1].label.find(Win1251("не подготовлено")), std::string::npos) << offered[1].label;

  // Both stored; both offered their marker: the folder that is there gets
  // it, the one that is not is refused and never made.
  EXPECT_EQ(
      app_->Settings().Read([](const TqnNode& root) { return CopyToNames(*RegisterOf(root)->FindNode("db0000")); }),
      (std::vector<std::string>{"nas", "usb"}));
  ASSERT_EQ(ui_.questions.size(), 2u);
  EXPECT_TRUE(platform::FileExists(nas_ + "/" + kDestinationMarkerName));
  EXPECT_FALSE(platform::DirectoryExists(unplugged));
  ASSERT_FALSE(ui_.messages.empty());
  EXPECT_EQ(ui_.messages.back().kind, TqnMessageKind::Error);
  EXPECT_NE(ui_.messages.back().text.find(unplugged), std::string::npos) << ui_.messages.back().text;

  // Opened again: the prepared one says so, a name no destination has is
  // shown ticked, and confirming unchanged asks nothing and keeps the text.
  app_->Settings().Change([](TqnNode& root) {
    RegisterOf(root)->FindNode("db0000")->FindNode("backup")->FindNode("copy_to")->Content().SetString("usb, nas, old");
    return 0;
  });
  ui_.editors.push_back([&](TqnEntryForm& form, const TqnEntryFormActions&) {
    offered = form.copies;
    return true;
  });
  app_->EditSelected();
  ASSERT_EQ(offered.size(), 3u);
  EXPECT_EQ(offered[0].label.find(Win1251("не подготовлено")), std::string::npos) << offered[0].label;
  EXPECT_TRUE(offered[2].ticked);
  EXPECT_EQ(offered[2].name, "old");
  EXPECT_EQ(ui_.questions.size(), 2u);
  EXPECT_EQ(app_->Settings().Read(
                [](const TqnNode& root) { return ReadText(*RegisterOf(root)->FindNode("db0000"), keys::kCopyTo); }),
            "usb, nas, old");
}

TEST_F(DestinationCopy, AnUnmountedDiskIsRefusedAndItsMountPointStaysEmpty) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
  const std::string point = dir_.File("disk");
  platform::ForceDirectories(point);
  if (::mount("tmpfs", point.c_str(), "tmpfs", 0, "size=64m") != 0)
    GTEST_SKIP() << "tmpfs cannot be mounted here: " << std::strerror(errno);
  Start("usb", point);
  const TqnCommandResult init = Run(TqnCommandKind::InitDestination, "usb");
  ASSERT_TRUE(init.ok) << init.text;
  {
    const TqnCommandResult r = Run(TqnCommandKind::Backup, "db0000");
    ASSERT_TRUE(r.ok) << r.text;
  }
  ASSERT_TRUE(feature_->WaitForCopies(120000));
  EXPECT_EQ(CopyState("usb").state, "copied") << CopyState("usb").message;
  ASSERT_EQ(::umount(point.c_str()), 0) << std::strerror(errno);

  // The disk is gone: its mount point is an empty folder of the system disk.
  DateTime later = clock_.Now();
  later.minute = 40;
  clock_.Set(later);
  {
    const TqnCommandResult r = Run(TqnCommandKind::Backup, "db0000");
    ASSERT_TRUE(r.ok) << r.text;
  }
  ASSERT_TRUE(feature_->WaitForCopies(120000));
  EXPECT_TRUE(TempDir::ListDir(point).empty());
  EXPECT_EQ(CopyState("usb").state, "failed");
  EXPECT_NE(Alerts().find("failed"), std::string::npos);
}

TEST_F(DestinationCopy, ASlowDestinationHoldsUpNeitherTheNextBackupNorTheOperationLock) {
  Start("nas", usb_);
  ASSERT_TRUE(Run(TqnCommandKind::InitDestination, "nas").ok);
  std::atomic<bool> open{false};
  std::atomic<int> started{0};
  feature_->SetCopySourceHook([&](std::unique_ptr<storage::ByteSource> inner) {
    return std::make_unique<GatedSource>(std::move(inner), open, started);
  });
  {
    const TqnCommandResult r = Run(TqnCommandKind::Backup, "db0000");
    ASSERT_TRUE(r.ok) << r.text;
  }
  for (int i = 0; i < 2000 && started == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(started, 1) << "the copy is under way";
  // While it hangs: the lock a workstation's request waits for is free,
  // and the next backup is made and proven.
  EXPECT_FALSE(feature_->Runner().OperationLock().Busy());
  DateTime later = clock_.Now();
  later.minute = 50;
  clock_.Set(later);
  const auto before = std::chrono::steady_clock::now();
  const TqnCommandResult second = Run(TqnCommandKind::Backup, "db0000");
  ASSERT_TRUE(second.ok) << second.text;
  EXPECT_FALSE(open);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(60));
  EXPECT_FALSE(platform::FileExists(nas_ + "/db0000-backup-2026.12.09-06.30.00-000.bk3"))
      << "the first copy is still held up";
  open = true;
  ASSERT_TRUE(feature_->WaitForCopies(120000));
  EXPECT_TRUE(platform::FileExists(nas_ + "/db0000-backup-2026.12.09-06.30.00-000.bk3"));
  EXPECT_TRUE(platform::FileExists(nas_ + "/db0000-backup-2026.12.09-06.50.00-000.bk3"));
}

TEST_F(DestinationCopy, ANewProgramFolderRestoresTheDatabaseFromTheDestinationAlone) {
  Start("nas", usb_);
  ASSERT_TRUE(Run(TqnCommandKind::InitDestination, "nas").ok);
  {
    const TqnCommandResult r = Run(TqnCommandKind::Backup, "db0000");
    ASSERT_TRUE(r.ok) << r.text;
  }
  ASSERT_TRUE(feature_->WaitForCopies(120000));
  ASSERT_EQ(CopyState("nas").state, "copied") << CopyState("nas").message;
  const std::string object = "db0000-backup-2026.12.09-06.30.00-000.bk3";

  // The machine is gone: its database, its backups and its settings.
  executor_.reset();
  feature_.reset();
  services_.reset();
  app_.reset();
  std::filesystem::remove_all(dir_.File("local"));
  std::filesystem::remove(database_);
  for (const auto& e : std::filesystem::directory_iterator(program_.path())) std::filesystem::remove_all(e.path());
  // A new one names the same disk (without its identity yet) and a new entry.
  const std::string fresh = dir_.File("fresh.fd3");
  StartWithEntries(
      EntryXml("db0000", fbtest::Fb30Path(fresh), dir_.File("restored"), "        <copy_to>nas</copy_to>\r\n"),
      "  <destinations><d0><name>nas</name><kind>folder</kind><path>" + nas_ + "</path></d0></destinations>\r\n");
  executor_ = std::make_unique<TqnCommandExecutor>(*app_, *feature_);

  // A changed byte at the destination is found before anything restores.
  const std::string kernelObject = platform::KernelFileName(nas_ + "/" + object);
  const std::string good = Slurp(kernelObject);
  {
    std::string bad = good;
    bad[bad.size() / 2] ^= 0x55;
    std::ofstream(kernelObject, std::ios::binary) << bad;
  }
  TqnCommandResult restore = Run(TqnCommandKind::Restore, "db0000", "nas:" + object);
  EXPECT_FALSE(restore.ok);
  EXPECT_NE(restore.text.find("SHA-256"), std::string::npos) << restore.text;
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("restored/" + object)));
  std::ofstream(kernelObject, std::ios::binary) << good;

  const TqnCommandResult verify = Run(TqnCommandKind::Verify, "db0000", "nas:" + object);
  EXPECT_TRUE(verify.ok) << verify.text;
  // The window's "Разархивация" offers the copy beside a file of this
  // computer, and restores the one picked.
  ui_.pickedItems = {1};
  app_->SelectRow(0);
  app_->RestoreSelected();
  ASSERT_EQ(ui_.offeredItems.size(), 1u);
  ASSERT_EQ(ui_.offeredItems[0].size(), 2u);
  EXPECT_NE(ui_.offeredItems[0][1].find("nas:" + object), std::string::npos) << ui_.offeredItems[0][1];
  for (const ScriptedUi::Shown& m : ui_.messages) EXPECT_NE(m.kind, TqnMessageKind::Error) << m.text;
  std::string out;
  ASSERT_EQ(fbtest::RunIsql("select count(*) from t;", out, fbtest::Fb30Path(fresh), fbtest::kUser, fbtest::kPassword),
            0)
      << out;
  EXPECT_NE(out.find("3"), std::string::npos) << out;
  EXPECT_EQ(Slurp(dir_.File("restored/" + object)), good);
}

// A bucket that locks what it is given, as the office's second place: the
// proven backup lands there encrypted, checked and catalogued, retention at
// the bucket never deletes a locked copy, and a new machine restores from
// the bucket and the key alone.
TEST_F(DestinationCopy, ABucketThatLocksItsEncryptedCopiesKeepsThemAndGivesTheDatabaseBack) {
  qntest::MotoServer moto;
  if (!moto.Error().empty()) GTEST_SKIP() << moto.Error();
  storage::S3Config config;
  config.endpoint = moto.Endpoint();
  config.region = "us-east-1";
  config.bucket = "office-backups";
  config.prefix = "office1/";
  config.accessKey = moto.AccessKey();
  config.secretKey = moto.SecretKey();
  storage::S3Storage bucket(config);
  bucket.CreateBucket(true);
  const std::string cloud = "<d0><name>cloud</name><kind>s3</kind><endpoint>" + config.endpoint +
                            "</endpoint><region>us-east-1</region><bucket>office-backups</bucket><prefix>office1/"
                            "</prefix><access_key>" +
                            config.accessKey + "</access_key><secret_key>" + config.secretKey +
                            "</secret_key><lock_days>30</lock_days><keep_last>1</keep_last><key_file>" +
                            dir_.File("cloud.key") + "</key_file></d0>";
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(database_), dir_.File("local"),
                            "        <auto>1</auto>\r\n        <copy_to>cloud</copy_to>\r\n"),
                   "  <destinations>" + cloud + "</destinations>\r\n");
  executor_ = std::make_unique<TqnCommandExecutor>(*app_, *feature_);
  ASSERT_TRUE(Run(TqnCommandKind::InitDestination, "cloud").ok);
  for (int minute : {30, 45}) {
    BackupAt(minute);
    ASSERT_EQ(CopyState("cloud").state, "copied") << CopyState("cloud").message;
  }
  // keep_last 1, but the first copy is locked for 30 days: both stay.
  const std::string first = "db0000-backup-2026.12.09-06.30.00-000.bk3";
  const std::string second = "db0000-backup-2026.12.09-06.45.00-000.bk3";
  EXPECT_TRUE(bucket.Info(first).exists);
  EXPECT_GT(bucket.Info(first).lockedUntilUnix, 0);
  EXPECT_TRUE(bucket.Info(second).exists);
  EXPECT_THROW(bucket.Remove(first), Exception);
  // Encrypted before it left: the bucket holds no byte run of the backup,
  // and its catalogue says with which key.
  std::string stored;
  bucket.Read(second, [&](const char* data, size_t size) { stored.append(data, size); });
  const std::string local = Slurp(dir_.File("local/backup-2026.12.09-06.45.00-000.bk3"));
  ASSERT_GT(local.size(), 512u);
  EXPECT_NE(stored.size(), local.size());
  EXPECT_EQ(stored.find(local.substr(256, 64)), std::string::npos);
  const std::vector<TqnCatalogueRecord> there = ReadCatalogue(bucket);
  ASSERT_FALSE(there.empty());
  EXPECT_EQ(there.back().encryption.rfind("aes-256-gcm ", 0), 0u) << there.back().encryption;
  EXPECT_EQ(there.back().sha256, FileSha256(dir_.File("local/backup-2026.12.09-06.45.00-000.bk3")));

  // A new machine: nothing but the bucket's settings.
  executor_.reset();
  feature_.reset();
  services_.reset();
  app_.reset();
  for (const auto& e : std::filesystem::directory_iterator(program_.path())) std::filesystem::remove_all(e.path());
  const std::string fresh = dir_.File("fresh.fd3");
  StartWithEntries(EntryXml("db0000", fbtest::Fb30Path(fresh), dir_.File("restored")),
                   "  <destinations>" + cloud + "</destinations>\r\n");
  executor_ = std::make_unique<TqnCommandExecutor>(*app_, *feature_);
  // Without its key nothing is restored; with the key kept elsewhere, it is.
  std::filesystem::rename(dir_.File("cloud.key"), dir_.File("kept.key"));
  TqnCommandResult restore = Run(TqnCommandKind::Restore, "db0000", "cloud:" + second);
  EXPECT_FALSE(restore.ok);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  std::filesystem::rename(dir_.File("kept.key"), dir_.File("cloud.key"));
  restore = Run(TqnCommandKind::Restore, "db0000", "cloud:" + second);
  ASSERT_TRUE(restore.ok) << restore.text;
  std::string out;
  ASSERT_EQ(fbtest::RunIsql("select count(*) from t;", out, fbtest::Fb30Path(fresh), fbtest::kUser, fbtest::kPassword),
            0)
      << out;
  EXPECT_NE(out.find("3"), std::string::npos) << out;
}

// An SSH server known by its host key, as a contractor's second place: the
// copy lands encrypted and catalogued there, is proved from there alone,
// and a server that shows another key gets nothing.
TEST_F(DestinationCopy, ACopyGoesToAnSshServerKnownByItsHostKeyAndIsProvedFromThere) {
  qntest::SshdServer sshd;
  if (!sshd.Error().empty()) GTEST_SKIP() << sshd.Error();
  const auto settings = [&](const std::string& hostKey) {
    return "  <destinations><d0><name>contractor</name><kind>sftp</kind><endpoint>" + sshd.Endpoint() +
           "</endpoint><path>" + sshd.Folder() + "</path><user>" + sshd.User() + "</user><private_key>" +
           sshd.ClientKey() + "</private_key><host_key>" + hostKey + "</host_key><key_file>" + dir_.File("sftp.key") +
           "</key_file></d0></destinations>\r\n";
  };
  const std::string entry = EntryXml("db0000", fbtest::Fb30Path(database_), dir_.File("local"),
                                     "        <auto>1</auto>\r\n        <copy_to>contractor</copy_to>\r\n");
  StartWithEntries(entry, settings(sshd.HostKey()));
  executor_ = std::make_unique<TqnCommandExecutor>(*app_, *feature_);
  ASSERT_TRUE(Run(TqnCommandKind::InitDestination, "contractor").ok);
  BackupAt(30);
  ASSERT_EQ(CopyState("contractor").state, "copied") << CopyState("contractor").message << sshd.Log();
  const std::string object = "db0000-backup-2026.12.09-06.30.00-000.bk3";
  const std::string local = Slurp(dir_.File("local/backup-2026.12.09-06.30.00-000.bk3"));
  const std::string stored = Slurp(sshd.Folder() + "/" + object);
  ASSERT_GT(local.size(), 512u);
  EXPECT_EQ(stored.find(local.substr(256, 64)), std::string::npos) << "not encrypted";
  const std::vector<TqnCatalogueRecord> there = ReadCatalogue(sshd.Folder() + "/");
  ASSERT_EQ(there.size(), 1u);
  EXPECT_EQ(there[0].file, object);
  EXPECT_EQ(there[0].sha256, FileSha256(dir_.File("local/backup-2026.12.09-06.30.00-000.bk3")));
  const TqnCommandResult verify = Run(TqnCommandKind::Verify, "db0000", "contractor:" + object);
  EXPECT_TRUE(verify.ok) << verify.text;

  // Another server in its place (another host key): refused, nothing sent.
  const auto before = TempDir::ListDir(sshd.Folder());
  app_->Settings().Change([&](TqnNode& root) {
    DestinationNode(root, "contractor")->Node("host_key")->Content().SetString(sshd.OtherHostKey());
    return 0;
  });
  BackupAt(45);
  EXPECT_EQ(CopyState("contractor").state, "failed");
  EXPECT_EQ(TempDir::ListDir(sshd.Folder()), before);
}

}  // namespace
}  // namespace qn
