// Reading and writing files: the safe loader with its backup copy, and saves
// that never leave a damaged file behind.
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "test_support/child_process.h"
#include "test_support/temp_dir.h"
#include "xml/settings_sample.h"
#include "xml/xml_utils.h"

using namespace qn;
using platform::JoinPath;
using platform::ReadFile;

namespace {

using LogLines = std::vector<std::pair<std::string, bool>>;

struct SafeLoad {
  std::unique_ptr<TqnNode> root;
  LogLines log;
};

SafeLoad LoadSafe(const std::string& file, const std::string& failure = Win1251("Ошибка чтения настроек")) {
  SafeLoad r;
  r.root = XmlLoadFileSafe(file, "backupcf.txt", "settings", failure,
                           [&](const std::string& text, bool show) { r.log.emplace_back(text, show); });
  return r;
}

void WriteRaw(const std::string& path, const std::string& bytes) { platform::WriteFileReplacing(path, bytes); }

}  // namespace

TEST(XmlFiles, LoadFileReportsAMissingFileByName) {
  TempDir dir;
  std::string missing = JoinPath(dir.path(), "none.xml");
  try {
    XmlLoadFile(missing, "settings");
    ADD_FAILURE() << "loaded a missing file";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
  }
}

TEST(XmlFiles, SaveIntoAMissingFolderFailsWithTheFileName) {
  TempDir dir;
  std::string target = JoinPath(dir.path(), "no/such/settings.xml");
  try {
    XmlSaveFile(*Settings("x"), target);
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + target);
  }
}

TEST(XmlSafeLoad, GoodFileIsReturnedAndRefreshesTheBackup) {
  TempDir dir;
  std::string file = dir.File("settings.xml"), backup = dir.File("backupcf.txt");
  XmlSaveFile(*Settings("main"), file);
  XmlSaveFile(*Settings("stale"), backup);
  SafeLoad r = LoadSafe(file);
  EXPECT_EQ(Marker(*r.root), "main");
  EXPECT_TRUE(r.log.empty());
  EXPECT_EQ(ReadFile(backup), ReadFile(file));
}

TEST(XmlSafeLoad, DamagedMainFileFallsBackToTheBackupQuietly) {
  TempDir dir;
  std::string file = dir.File("settings.xml"), backup = dir.File("backupcf.txt");
  WriteRaw(file, "<settings>half a fi");
  XmlSaveFile(*Settings("backup"), backup);
  const std::string backupBytes = ReadFile(backup);

  SafeLoad r = LoadSafe(file);
  EXPECT_EQ(Marker(*r.root), "backup");
  EXPECT_EQ(r.log,
            (LogLines{{"can not read main file \"" + file + "\", error: Wrong XML file (no closing root tag)", false},
                      {"try read backup file \"" + backup + "\"", false}}));
  EXPECT_EQ(ReadFile(backup), backupBytes);
  EXPECT_EQ(ReadFile(file), "<settings>half a fi");
}

TEST(XmlSafeLoad, NeitherFileReadableGivesAnEmptyRootAndOneMessageToTheUser) {
  TempDir dir;
  std::string file = dir.File("settings.xml"), backup = dir.File("backupcf.txt");
  WriteRaw(file, "garbage");
  WriteRaw(backup, "<?xml?><settings><a></b></settings>");
  const std::string failure = Win1251("Не удалось прочитать настройки");

  SafeLoad r = LoadSafe(file, failure);
  EXPECT_EQ(r.root->Name(), "settings");
  EXPECT_EQ(r.root->NodeCount(), 0);
  EXPECT_TRUE(r.root->Exists());
  EXPECT_EQ(r.log,
            (LogLines{{"can not read main file \"" + file + "\", error: Wrong XML file (no opening root tag)", false},
                      {"try read backup file \"" + backup + "\"", false},
                      {"can not read backup file \"" + backup + "\", error: Tag name mismatch", false},
                      {failure, true}}));
}

TEST(XmlSafeLoad, MissingFilesAreLoggedAndAnEmptyMessageIsNotShown) {
  TempDir dir;
  std::string file = dir.File("settings.xml"), backup = dir.File("backupcf.txt");
  SafeLoad r = LoadSafe(file, "");
  EXPECT_EQ(r.root->Name(), "settings");
  EXPECT_EQ(r.log, (LogLines{{"can not read main file \"" + file + "\", error: Cannot open file " + file, false},
                             {"backup file \"" + backup + "\" not exists", false}}));
  // A null callback is allowed too.
  EXPECT_EQ(XmlLoadFileSafe(file, "backupcf.txt", "settings", "msg", nullptr)->Name(), "settings");
}

TEST(XmlSafeLoad, BackupThatCannotBeWrittenIsLoggedAndTheTreeStillReturned) {
  TempDir dir;
  std::string file = dir.File("settings.xml"), backup = dir.File("backupcf.txt");
  XmlSaveFile(*Settings("main"), file);
  platform::ForceDirectories(backup);  // a folder where the copy should go
  SafeLoad r = LoadSafe(file);
  EXPECT_EQ(Marker(*r.root), "main");
  ASSERT_EQ(r.log.size(), 1u);
  const std::string prefix = "can not create backup file \"" + backup + "\", of file \"" + file + "\", error: ";
  EXPECT_EQ(r.log[0].first.substr(0, prefix.size()), prefix);
  EXPECT_GT(r.log[0].first.size(), prefix.size());
  EXPECT_FALSE(r.log[0].second);
}

// Saves the settings over and over, each time with a new marker.
QN_CHILD_MODE(xml_save_loop) {
  const std::string& file = args.at(0);
  const std::string ready = args.at(1);
  for (int round = 0;; ++round) {
    XmlSaveFile(*Settings("round " + std::to_string(round), 300), file);
    if (round == 0) qntest::TouchFile(ready);
  }
}

TEST(XmlSave, KilledWhileSavingNeverLeavesAnUnreadableFile) {
  TempDir dir;
  std::string file = dir.File("settings.xml");
  XmlSaveFile(*Settings("initial", 300), file);
  std::mt19937 rng(99);
  for (int attempt = 0; attempt < 15; ++attempt) {
    std::string ready = dir.File("ready" + std::to_string(attempt));
    qntest::ChildProcess child("xml_save_loop", {file, ready});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(qntest::WaitForFile(ready));
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
    child.Kill(SIGKILL);
    EXPECT_EQ(child.Wait(), 128 + SIGKILL);
    std::unique_ptr<TqnNode> root;
    ASSERT_NO_THROW(root = XmlLoadFile(file, "settings")) << "attempt " << attempt;
    EXPECT_EQ(Marker(*root).rfind("round ", 0), 0u);
    EXPECT_EQ(root->FindNode("data")->NodeCount(), 300);
  }
}
