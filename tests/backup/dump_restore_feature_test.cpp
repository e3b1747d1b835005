// The restore button with a logical dump on a real core: the entry of the
// older server in the program's data folder is re-pointed, saved and shown.
#include <gtest/gtest.h>

#include <fstream>

#include "backup/feature_fixture.h"
#include "backup/dump_archive.h"
#include "base/text.h"
#include "firebird/fb_statement.h"
#include "firebird/fb_test_support.h"
#include "platform/files.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"

namespace qn {
namespace {

class DumpRestoreFeature : public FeatureRun {
 protected:
  DumpRestoreFeature() : FeatureRun(FakeClock{2026, 12, 8, 6, 0, 0}) {}
};

TEST_F(DumpRestoreFeature, TheMovedEntryIsSavedAndListedBeforeTheDataArrive) {
  const std::string data = platform::JoinPath(program_.path(), "data");
  platform::ForceDirectories(data);
  StartWith("localhost:" + platform::JoinPath(data, "tx.fdb"), dir_.path());
  const std::string archive = dir_.File("dump.pbz");
  ziptest::WriteZip(archive,
                    ziptest::DumpMembers(ziptest::kDdl, "deactivate", "&Person\tObject\tName\n00000000000A\tX\n"));
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
