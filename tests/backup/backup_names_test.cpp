// Backup file names and the backup folder rules.
#include "backup/backup_names.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/files.h"

namespace qn {
namespace {

// Where paths are written with "/" (Linux), a folder written so is completed
// with "/"; on Windows so is one without a backslash (a Linux server's
// folder), every other folder gets a backslash.
const bool kSlashPaths = platform::kPathSeparator == '/';

TEST(BackupNames, FoldersAreCompletedWithTheirOwnSeparator) {
  const struct {
    const char* folder;
    const char* normalized;
  } cases[] = {
      {"", ""},
      {"C:\\Backup", "C:\\Backup\\"},
      {"C:\\Backup\\", "C:\\Backup\\"},
      // Not "/srv/backupauto-...", and on Windows not "/srv/backup\auto-..." (a
      // Linux server's folder, written by that server).
      {"/srv/backup", "/srv/backup/"},
      {"/srv/backup/", "/srv/backup/"},
      {"\\\\server/share", kSlashPaths ? "\\\\server/share/" : "\\\\server/share\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeBackupFolder(c.folder), c.normalized) << c.folder;
}

TEST(BackupNames, OnlyFoldersLongerThanThreeCharactersAreUsable) {
  EXPECT_FALSE(IsUsableBackupFolder(""));
  EXPECT_FALSE(IsUsableBackupFolder("C:\\"));
  EXPECT_FALSE(IsUsableBackupFolder("C:"));  // "C:\" once completed
  EXPECT_TRUE(IsUsableBackupFolder("C:\\b"));
  EXPECT_TRUE(IsUsableBackupFolder("/srv"));
}

TEST(BackupNames, FileNamesCarryPrefixStampAndGenerationExtension) {
  DateTime t;
  t.year = 2024, t.month = 3, t.day = 5, t.hour = 6, t.minute = 30, t.second = 12, t.msec = 45;
  EXPECT_EQ(BackupFileName("C:\\Backup", "auto-", t, false), "C:\\Backup\\auto-2024.03.05-06.30.12-045.fbk");
  EXPECT_EQ(BackupFileName("/srv/backup", "remote-", t, true), "/srv/backup/remote-2024.03.05-06.30.12-045.bk3");
  EXPECT_EQ(BackupFileName("", "backup-", t, true), "backup-2024.03.05-06.30.12-045.bk3");
}

TEST(BackupNames, ServiceSafeNameTurnsSmallYaIntoCapitalYaOnly) {
  const std::string small = Win1251("я"), capital = Win1251("Я");
  ASSERT_EQ(small, "\xFF");
  EXPECT_EQ(ServiceSafeName("/db/" + small + "x" + small), "/db/" + capital + "x" + capital);
  const std::string others = Win1251("ёЁюЮ/\\abc");
  EXPECT_EQ(ServiceSafeName(others), others);
}

}  // namespace
}  // namespace qn
