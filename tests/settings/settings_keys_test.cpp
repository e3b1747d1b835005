// The one table of an entry's settings keys: the documentation shows it as
// the code has it, and the readers keep to its limits.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "settings/settings_keys.h"
#include "xml/xml_dom.h"

namespace qn {
namespace {

TEST(SettingsKeys, TheDocumentationsTableIsTheCodes) {
  std::ifstream in(std::string(QN_SOURCE_DIR) + "/docs/settings.md");
  std::stringstream doc;
  doc << in.rdbuf();
  for (const auto* table : {&EntryKeys(), &RootKeys(), &DestinationKeys()})
    EXPECT_NE(doc.str().find(KeysTable(*table)), std::string::npos)
        << "docs/settings.md must hold this table as it stands:\n"
        << KeysTable(*table);
}

TEST(SettingsKeys, ReadersKeepToTheLimitsAndTheScheduleReadsWhatIsStored) {
  TqnNode entry("db0000");
  EXPECT_EQ(ReadInteger(entry, keys::kRest), 10);
  EXPECT_EQ(ReadInteger(entry, keys::kKeepRequested), 3);
  EXPECT_TRUE(ReadBoolean(entry, keys::kVerify));
  entry.Node("backup")->Node("rest")->SetText("0");
  entry.Node("backup")->Node("interval")->SetText("1");
  entry.Node("backup")->Node("keep_daily")->SetText("x");
  EXPECT_EQ(ReadInteger(entry, keys::kRest), 1);
  EXPECT_EQ(ReadInteger(entry, keys::kInterval), 5);
  EXPECT_EQ(ReadRawInteger(entry, keys::kInterval), 1);
  EXPECT_EQ(ReadInteger(entry, keys::kKeepDaily), 0) << "unreadable: what a missing value means";
  WriteOptionalInteger(entry, keys::kKeepWeekly, 0);
  EXPECT_FALSE(KeyNode(entry, keys::kKeepWeekly)->Exists());
}

}  // namespace
}  // namespace qn
