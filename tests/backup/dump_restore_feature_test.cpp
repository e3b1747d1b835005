// The restore button with a logical dump on a real core: the entry of the
// older server in the program's data folder is re-pointed, saved and shown.
#include <gtest/gtest.h>

#include <fstream>

#include "backup/backup_feature.h"
#include "backup/dump_archive.h"
#include "base/text.h"
#include "firebird/fb_statement.h"
#include "firebird/fb_test_support.h"
#include "platform/files.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"

namespace qn {
namespace {

class DumpRestoreFeature : public fbtest::ServerTest {
 protected:
  void StartWith(const std::string& path) {
    for (const char* flag : {"ignore-udp.txt", "ignore-tcp.txt"}) std::ofstream(program_.File(flag)) << "";
    std::ofstream(program_.File("settings.xml"), std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n    <db0000>\r\n"
        << "      <path>" << path << "</path>\r\n      <user>SYSDBA</user>\r\n      <pwd>quillfern</pwd>\r\n"
        << "      <caption/>\r\n      <backup>\r\n        <path>" << dir_.path() << "</path>\r\n"
        << "      </backup>\r\n    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
    app_ = std::make_unique<TqnApplication>(program_.path(), ui_, view_, clock_);
    services_ = std::make_unique<TqnRunServices>(*app_, [](const std::function<void()>& w) { w(); });
    feature_ = std::make_unique<TqnBackupFeature>(*app_, *services_, view_);
    app_->Startup();
    ASSERT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
  }

  TempDir program_;
  FakeClock clock_{2026, 12, 8, 6, 0, 0};
  ScriptedUi ui_;
  RecordingView view_;
  std::unique_ptr<TqnApplication> app_;
  std::unique_ptr<TqnRunServices> services_;
  std::unique_ptr<TqnBackupFeature> feature_;
};

TEST_F(DumpRestoreFeature, TheMovedEntryIsSavedAndListedBeforeTheDataArrive) {
  const std::string data = platform::JoinPath(program_.path(), "data");
  platform::ForceDirectories(data);
  StartWith("localhost:" + platform::JoinPath(data, "tx.fdb"));
  const std::string archive = dir_.File("dump.pbz");
  ziptest::WriteZip(archive, ziptest::DumpMembers(ziptest::kDdl, "deactivate", "&Person\tObject\tName\n00000000000A\tX\n"));
  const int listChanges = view_.listChanges;

  ui_.pickedFiles = {archive};
  feature_->btnRestoreClick();

  ASSERT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
  const std::string newPath = "localhost/53030:" + platform::JoinPath(data, "tx.fd3");
  EXPECT_NE(platform::ReadFile(program_.File("settings.xml")).find("<path>" + newPath + "</path>"), std::string::npos);
  ASSERT_EQ(app_->Rows().size(), 1u);
  EXPECT_EQ(app_->Rows()[0].path, newPath);
  EXPECT_EQ(app_->SelectedRow(), 0);
  EXPECT_GT(view_.listChanges, listChanges);

  TqnFbConnection c;
  c.SetDatabaseName(newPath);
  c.Attach();
  TqnFbStatement query(c);
  query.Execute("select \"fName\" from \"tPerson\"");
  ASSERT_TRUE(query.Fetch());
  EXPECT_EQ(query.AsString(0), "X");
}

}  // namespace
}  // namespace qn
