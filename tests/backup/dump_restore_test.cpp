// Restores of logical dump archives through the runner, against the local
// Firebird 3.0 server: the move of an entry of the older server into the
// program's data folder, the refusals, an entry already on the Firebird 3.0
// server, and a failing schema script.
#include "backup/dump_restore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "backup/dump_archive.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_statement.h"
#include "firebird/fb_test_support.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"

namespace qn {
namespace {

using ziptest::kDdl;
using ziptest::kMeta;

class DumpRestore : public fbtest::ServerTest {
 protected:
  DumpRestore() : log_(dir_.path(), false, clock_, &pane_) {
    platform::ForceDirectories(DataFolder());
    runner_ = std::make_unique<TqnBackupRunner>(connection_, log_, &ui_, clock_,
                                                TqnBackupRunnerOptions{dir_.path(), "", "K9", 7985});
    TqnDumpRestoreHooks hooks;
    hooks.repointEntry = [this](const std::string& name, const std::string& path) {
      repointed_.push_back({name, path});
    };
    hooks.askLogin = [this](std::string& user, std::string& password) { return ui_.AskLogin(user, password); };
    hooks.fbIniPresent = [this] { return fbIni_; };
    runner_->SetDumpRestoreHooks(std::move(hooks));
  }

  std::string DataFolder() const { return platform::JoinPath(dir_.path(), "data"); }

  ziptest::Members Archive(const std::string& ddl = kDdl) const {
    return ziptest::DumpMembers(ddl, deactivate_, data_);
  }
  std::string WriteArchive(const ziptest::Members& members) {
    std::string path = dir_.File("dump.pbz");
    ziptest::WriteZip(path, members);
    return path;
  }
  TqnBackupEntry Entry(const std::string& path) const { return {"db0003", path, fbtest::kUser, fbtest::kPassword, ""}; }
  std::string FailureOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const Exception& e) {
      return e.what();
    }
    return "<no failure>";
  }
  std::vector<std::string> Rows(const std::string& file, const std::string& sql) {
    TqnFbConnection c;
    c.SetDatabaseName(fbtest::Fb30Path(file));
    c.Attach();
    TqnFbStatement query(c);
    query.Execute(sql);
    return fbtest::FetchRows(query);
  }
  int IndexCount(const std::string& file, const std::string& index) {
    return std::stoi(Rows(file, "select count(*) from rdb$indices where rdb$index_name = '" + index + "'").at(0));
  }
  std::vector<std::string> LastStatementLines() const {
    std::vector<std::string> found;
    for (const std::string& line : pane_.Lines())
      if (line.find("last script statement: ") != std::string::npos) found.push_back(line);
    return found;
  }
  // The entry's refusal leaves the data folder as it was and tells no one.
  void ExpectNothingChanged(const std::vector<std::string>& dataBefore) {
    EXPECT_TRUE(repointed_.empty());
    EXPECT_EQ(TempDir::ListDir(DataFolder()), dataBefore);
    EXPECT_FALSE(connection_.Attached());
  }

  const std::string deactivate_ = Win1251("-- отключение\r\nALTER TRIGGER X INACTIVE;\r\n");
  const std::string data_ =
      "#VERSION 0.1.0.0\r\n&Person\tObject\tName\r\n00000000000A\t" + Win1251("Иван") + "\r\n00000000000B\tBob\r\n";
  FakeClock clock_{2026, 12, 8, 5, 40, 0};
  TqnMessagePane pane_;
  TqnLog log_;
  ScriptedUi ui_;
  TqnFbConnection connection_;
  std::unique_ptr<TqnBackupRunner> runner_;
  std::vector<std::pair<std::string, std::string>> repointed_;
  bool fbIni_ = false;
};

TEST_F(DumpRestore, AnEntryOfTheOlderServerMovesToANewFileWithoutExpressionIndexes) {
  const std::string oldFile = platform::JoinPath(DataFolder(), "tx.fdb");
  platform::WriteFileReplacing(oldFile, "the old database");
  platform::WriteFileReplacing(platform::JoinPath(DataFolder(), "tx.fd3"), "taken");
  const std::string archive = WriteArchive(Archive());

  runner_->RestoreDatabase(Entry("localhost:" + oldFile), archive, false);

  const std::string newFile = platform::JoinPath(DataFolder(), "tx1.fd3");
  ASSERT_EQ(repointed_.size(), 1u);
  EXPECT_EQ(repointed_[0].first, "db0003");
  EXPECT_EQ(repointed_[0].second, "localhost/53030:" + newFile);
  EXPECT_EQ(platform::ReadFile(oldFile), "the old database");
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_FALSE(connection_.Attached());

  EXPECT_EQ(Rows(newFile, "select \"fObject\", \"fName\" from \"tPerson\" order by 1"),
            (std::vector<std::string>{"00000000000A|" + Win1251("Иван"), "00000000000B|Bob"}));
  EXPECT_EQ(Rows(newFile, "select \"fDeactivate\", \"fMeta\" from \"tDatabase\""),
            std::vector<std::string>{deactivate_ + "|" + kMeta});
  EXPECT_EQ(IndexCount(newFile, "IPERSONNAME"), 1);
  EXPECT_EQ(IndexCount(newFile, "IPERSONUPPER"), 0);
  EXPECT_EQ(IndexCount(newFile, "IPERSONDESC"), 1);
  ASSERT_EQ(LastStatementLines().size(), 1u);
  EXPECT_NE(LastStatementLines()[0].find("IPERSONDESC"), std::string::npos);
  EXPECT_GT(runner_->ProgressSteps(), 0);
}

TEST_F(DumpRestore, EntriesThatCannotMoveAreRefusedAndNothingChanges) {
  const std::string archive = WriteArchive(Archive());
  const std::string mismatch = Win1251("Формат базы данных не соответствует формату резервной копии");
  const std::string other = dir_.File("tx.fdb");
  const std::string inData = platform::JoinPath(DataFolder(), "tx.fdb");
  const std::vector<std::string> before = TempDir::ListDir(DataFolder());
  for (const std::string& path : {"localhost:" + other, "localhost:" + platform::JoinPath(DataFolder(), "tx.gdb"),
                                  "localhost/3050:" + inData, "otherhost:" + inData}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(FailureOf([&] { runner_->RestoreDatabase(Entry(path), archive, false); }), mismatch);
    ExpectNothingChanged(before);
  }
  fbIni_ = true;
  EXPECT_EQ(FailureOf([&] { runner_->RestoreDatabase(Entry("localhost:" + inData), archive, false); }), mismatch);
  ExpectNothingChanged(before);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(LastStatementLines().empty());
}

TEST_F(DumpRestore, AnArchiveWithoutAMemberIsRefusedWithABox) {
  ziptest::Members members = Archive();
  members.erase(
      std::remove_if(members.begin(), members.end(), [](const auto& m) { return m.first == "tables_ord.txt"; }),
      members.end());
  const std::string archive = WriteArchive(members);
  const std::vector<std::string> before = TempDir::ListDir(DataFolder());
  EXPECT_EQ(FailureOf([&] {
              runner_->RestoreDatabase(Entry("localhost:" + platform::JoinPath(DataFolder(), "tx.fdb")), archive,
                                       false);
            }),
            "<no failure>");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].kind, TqnMessageKind::Error);
  EXPECT_EQ(ui_.messages[0].text, Win1251("Формат резервной копии не поддерживается"));
  ExpectNothingChanged(before);
}

TEST_F(DumpRestore, AnEntryOnTheFirebird30ServerKeepsExpressionIndexesAndItsFileGoesAside) {
  const std::string current = dir_.File("cur.fd3");
  {
    TqnFbConnection c;
    c.SetDatabaseName(fbtest::Fb30Path(current));
    c.CreateDatabase();
  }
  const std::string archive = WriteArchive(Archive());

  runner_->RestoreDatabase(Entry(fbtest::Fb30Path(current)), archive, false);

  EXPECT_TRUE(repointed_.empty());
  EXPECT_EQ(TempDir::ListDir(dir_.File("prev")), std::vector<std::string>{"cur-2026.12.08-05.40.00-000.fd3"});
  EXPECT_EQ(IndexCount(current, "IPERSONUPPER"), 1);
  EXPECT_EQ(Rows(current, "select count(*) from \"tPerson\""), std::vector<std::string>{"2"});
  EXPECT_EQ(Rows(current, "select \"fDeactivate\" from \"tDatabase\""), std::vector<std::string>{deactivate_});
}

TEST_F(DumpRestore, AFailingSchemaStatementIsToldToThePaneAndPropagates) {
  const std::string current = dir_.File("fail.fd3");
  const std::string archive =
      WriteArchive(Archive("CREATE INDEX IPERSONNAME ON \"tPerson\" (\"fName\");\n"
                           "CREATE INDEX IBROKEN ON \"tMissing\" (\"fName\");\n"
                           "CREATE INDEX INEVER ON \"tPerson\" (\"fObject\", \"fName\");\n"));
  const std::string message =
      FailureOf([&] { runner_->RestoreDatabase(Entry(fbtest::Fb30Path(current)), archive, false); });
  EXPECT_NE(message, "<no failure>");
  ASSERT_EQ(LastStatementLines().size(), 1u);
  EXPECT_NE(LastStatementLines()[0].find("IBROKEN ON \"tMissing\""), std::string::npos);
  EXPECT_FALSE(connection_.Attached());
  // The data stayed; the texts were never written.
  EXPECT_EQ(Rows(current, "select count(*) from \"tPerson\""), std::vector<std::string>{"2"});
  EXPECT_EQ(Rows(current, "select \"fMeta\" from \"tDatabase\""), std::vector<std::string>{"<null>"});
}

TEST_F(DumpRestore, ADataMemberWithABadCheckSumFailsTheLoadAndNothingIsCommitted) {
  const std::string current = dir_.File("crc.fd3");
  const std::string archive = WriteArchive(Archive());
  ziptest::SpoilCrc(archive, "data.txt");
  const std::string message =
      FailureOf([&] { runner_->RestoreDatabase(Entry(fbtest::Fb30Path(current)), archive, false); });
  EXPECT_EQ(message.rfind("error in closing in the unzipfile", 0), 0u) << message;
  EXPECT_FALSE(connection_.Attached());
  EXPECT_EQ(Rows(current, "select count(*) from \"tPerson\""), std::vector<std::string>{"0"});
  EXPECT_EQ(Rows(current, "select \"fMeta\" from \"tDatabase\""), std::vector<std::string>{"<null>"});
}

TEST(ExpressionIndexLines, WholeMarkedLinesAreReplacedKeepingLineEnds) {
  EXPECT_EQ(DisableExpressionIndexes(
                "a;\r\nCREATE INDEX X COMPUTED BY (1); /* tag:expression-index */\r\nb;\nc tag:expression-index"),
            "a;\r\n/* expression index disabled */\r\nb;\n/* expression index disabled */");
  EXPECT_EQ(DisableExpressionIndexes("no tags here\n\n"), "no tags here\n\n");
}

}  // namespace
}  // namespace qn
