// The backup feature of a run as the window uses it: the buttons with their
// dialogs and question, and the scheduler's tick, on a real core.
#include "backup/feature_fixture.h"

#include <netdb.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "base/text.h"
#include "firebird/fb_statement.h"
#include "firebird/fb_test_support.h"
#include "platform/files.h"
#include "platform/system.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"

namespace qn {
namespace {

class Feature : public FeatureRun {
 protected:
  Feature() : FeatureRun(FakeClock{2026, 12, 7, 9, 15, 0}) {}
  void CreateDatabase(const std::string& file) {
    TqnFbConnection c;
    c.SetDatabaseName(fbtest::Fb30Path(file));
    c.CreateDatabase();
  }
};

TEST_F(Feature, ManualBackupThenRestoreOnThisMachinesOwnNameMovesTheCurrentFileAside) {
  const std::string host = platform::HostName();
  if (!gethostbyname(host.c_str())) GTEST_SKIP() << "this machine's name does not resolve";
  const std::string file = dir_.File("tx.fd3");
  CreateDatabase(file);
  StartWith(host + "/53030:" + file, dir_.path());

  ui_.pickedFiles = {dir_.File("copy.bk3")};
  feature_->btnBackupClick();
  EXPECT_EQ(ui_.lastDialog.filter, Win1251("Файлы резервной копии (*.bk3)|*.bk3"));
  EXPECT_EQ(ui_.lastDialog.fileName, dir_.path() + "/backup-2026.12.07-09.15.00-000.bk3");
  ASSERT_TRUE(platform::FileExists(dir_.File("copy.bk3")));

  ui_.pickedFiles = {dir_.File("copy.bk3")};
  ui_.answers = {false};
  feature_->btnRestoreClick();
  EXPECT_EQ(ui_.questions.back().text,
            Win1251("При разархивации файла все текущие данные будут заменены данными из открываемого файла. "
                    "Продолжить?"));
  EXPECT_FALSE(platform::DirectoryExists(dir_.File("prev"))) << "No must change nothing";

  ui_.pickedFiles = {dir_.File("copy.bk3")};
  feature_->btnRestoreClick();
  EXPECT_TRUE(platform::FileExists(dir_.File("prev/tx-2026.12.07-09.15.00-000.fd3")))
      << "an entry on this machine's own name is local: its file goes to prev first";
  EXPECT_TRUE(platform::FileExists(file));
}

// An office keeps its bases in folders named in Russian: the database, the
// backup and the file moved aside by a restore carry their real names.
TEST_F(Feature, BackupAndRestoreInRussianFoldersUseTheRealNames) {
  const std::string folder = dir_.path() + Win1251("/Базы");
  platform::ForceDirectories(folder + Win1251("/Архив"));
  const std::string file = folder + Win1251("/Учёт.fd3");
  CreateDatabase(file);
  ASSERT_TRUE(std::filesystem::is_regular_file(dir_.path() + "/Базы/Учёт.fd3"));
  StartWith(fbtest::Fb30Path(file), folder + Win1251("/Архив"));

  ui_.pickedFiles = {folder + Win1251("/Архив/копия.bk3")};
  feature_->btnBackupClick();
  ASSERT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_.path() + "/Базы/Архив/копия.bk3"));

  ui_.pickedFiles = {folder + Win1251("/Архив/копия.bk3")};
  feature_->btnRestoreClick();
  ASSERT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_.path() + "/Базы/prev/Учёт-2026.12.07-09.15.00-000.fd3"));
  TqnFbConnection restored;
  restored.SetDatabaseName(fbtest::Fb30Path(file));
  EXPECT_NO_THROW(restored.Attach());
}

TEST_F(Feature, AFailingScheduledBackupIsReportedOnTheMessagesPage) {
  StartWith("localhost/53030:/nonexistent/tx.fd3", "C:\\",
            "        <auto>1</auto>\r\n        <weekdays>1111111</weekdays>\r\n        <time>0</time>\r\n");
  app_->BackupCheckNow();
  EXPECT_EQ(app_->FailureList().count("db0000"), 1u);
  EXPECT_EQ(view_.messagePages, 1);
  const std::string expected = Win1251(": Ошибка! Путь для резервных копий \"C:\\\" не доступен");
  bool found = false;
  for (const auto& line : app_->Pane().Lines())
    found |=
        line.size() > expected.size() && line.compare(line.size() - expected.size(), expected.size(), expected) == 0;
  EXPECT_TRUE(found) << "the failure line in the pane";
  app_->BackupCheckNow();
  EXPECT_EQ(view_.messagePages, 1) << "a failed entry is skipped from then on";
}

}  // namespace
}  // namespace qn
