#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"
#include "settings/entry_form.h"
#include "settings/register.h"
#include "xml/xml_utils.h"

using namespace qn;

namespace {

std::unique_ptr<TqnNode> RootWithEntry(TqnNode*& entry) {
  auto root = std::make_unique<TqnNode>("settings");
  TqnNewEntry values{"localhost/53030:/data/tx.fd3", "", "/prog/backup/0003", ""};
  entry = AddEntry(*root, 3, values);
  return root;
}

}  // namespace

TEST(EntryName, OnlyDbAndFourDigitsAreEntries) {
  int n = -1;
  EXPECT_TRUE(ParseEntryName("db0000", n));
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(ParseEntryName("db9999", n));
  EXPECT_EQ(n, 9999);
  for (const char* bad : {"db12", "dbx001", "DB0001", "db00001", "db-001", "db 001", "xx0001", ""})
    EXPECT_FALSE(ParseEntryName(bad, n)) << bad;
  EXPECT_EQ(EntryName(12), "db0012");
  EXPECT_EQ(EntryName(0), "db0000");
}

TEST(EntryForm, FillsFromTheEntryWithTheDialogsDefaults) {
  TqnNode* entry = nullptr;
  auto root = RootWithEntry(entry);
  entry->FindNode("backup")->FindNode("weekdays")->Content().SetString("10");
  entry->FindNode("backup")->FindNode("time")->Content().SetInteger(1439);
  TqnEntryForm f = LoadEntryForm(*entry, false, "SERVER");
  EXPECT_EQ(f.identifier, "db0003");
  EXPECT_EQ(f.connAddress, "3@SERVER");
  EXPECT_EQ(f.user, "SYSDBA");
  EXPECT_EQ(f.password, "quillfern");
  EXPECT_TRUE(f.sendPassword) << "no hidepwd: the password is sent";
  EXPECT_EQ(f.weekdays, (std::array<bool, 7>{true, true, true, true, true, false, false}));
  EXPECT_EQ(f.timeText, "23:59");
  EXPECT_FALSE(f.creationMode);
  EXPECT_FALSE(f.createDatabase);
  StoreEntryForm(f, *entry);
  EXPECT_EQ(entry->FindNode("backup")->FindNode("weekdays")->Text(), "1111100");
  EXPECT_EQ(entry->FindNode("backup")->FindNode("time")->Text(), "1439");
}

TEST(EntryForm, StoresEveryFieldInItsForm) {
  TqnNode* entry = nullptr;
  auto root = RootWithEntry(entry);
  TqnEntryForm f = LoadEntryForm(*entry, true, "H");
  EXPECT_TRUE(f.createDatabase);
  f.caption = "a<b & c";
  f.password = "p w";
  f.sendPassword = false;
  f.autoBackup = true;
  f.weekdays = {false, true, false, true, false, true, false};
  f.timeText = "07:45";
  f.num = 3;
  f.interval = 90;
  f.rest = 12;
  StoreEntryForm(f, *entry);
  EXPECT_EQ(entry->FindNode("caption")->Text(), "a&#x3C;b &#x26; c");
  EXPECT_EQ(entry->FindNode("pwd")->Content().AsString(""), "p w");
  EXPECT_EQ(entry->FindNode("hidepwd")->Text(), "1");
  const TqnNode* b = entry->FindNode("backup");
  EXPECT_EQ(b->FindNode("auto")->Text(), "1");
  EXPECT_EQ(b->FindNode("weekdays")->Text(), "0101010");
  EXPECT_EQ(b->FindNode("time")->Text(), "465");
  EXPECT_EQ(b->FindNode("num")->Text(), "3");
  EXPECT_EQ(b->FindNode("interval")->Text(), "90");
  EXPECT_EQ(b->FindNode("rest")->Text(), "12");
  // Retention's keys are written once they differ from what a missing key
  // means: an older entry confirmed unchanged keeps its file as it was.
  for (const char* key : {"keep_daily", "keep_weekly", "keep_monthly", "keep_requested"})
    EXPECT_FALSE(b->FindNode(key)->Exists()) << key;
  f.keepDaily = 7;
  f.keepRequested = 0;
  StoreEntryForm(f, *entry);
  EXPECT_EQ(b->FindNode("keep_daily")->Text(), "7");
  EXPECT_EQ(b->FindNode("keep_requested")->Text(), "0");
  EXPECT_FALSE(b->FindNode("keep_weekly")->Exists());
  const TqnEntryForm back = LoadEntryForm(*entry, false, "H");
  EXPECT_EQ(back.keepDaily, 7);
  EXPECT_EQ(back.keepRequested, 0);
  EXPECT_EQ(back.keepMonthly, 0);
}

TEST(EntryForm, AnEntryWithoutItsElementsCannotBeConfirmed) {
  TqnNode entry("db0005");
  TqnEntryForm f = LoadEntryForm(entry, false, "H");
  try {
    StoreEntryForm(f, entry);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "setting value for not exists node");
  }
  EXPECT_EQ(entry.NodeCount(), 0) << "nothing is created under a missing element";
}

TEST(EntryForm, TimeTextRules) {
  EXPECT_EQ(FormatBackupTime(390), "06:30");
  EXPECT_EQ(FormatBackupTime(0), "00:00");
  EXPECT_EQ(ParseBackupTime("06:30"), 390);
  EXPECT_EQ(ParseBackupTime(" 6: 5"), 365);
  EXPECT_EQ(ParseBackupTime("ab:10"), 10);
  EXPECT_EQ(ParseBackupTime("6:30"), 0);
  EXPECT_EQ(ParseBackupTime(""), 0);
}

TEST(EntryForm, SpinValuesStayInsideTheirLimits) {
  EXPECT_EQ(ClampToLimits(0, kNumLimits), 1);
  EXPECT_EQ(ClampToLimits(101, kNumLimits), 100);
  EXPECT_EQ(ClampToLimits(2000, kIntervalLimits), 1440);
  EXPECT_EQ(ClampToLimits(50, kRestLimits), 50);
}

TEST(EntryForm, PickedFilesAndDefaults) {
  EXPECT_EQ(PathForPickedFile("D:\\base\\tx.fd3", "localhost/53030"), "localhost/53030:D:\\base\\tx.fd3");
  EXPECT_EQ(PathForPickedFile("D:\\base\\TX.FD3", "srv"), "srv:D:\\base\\TX.FD3");
  EXPECT_EQ(PathForPickedFile("D:\\base\\old.fdb", "localhost/53030"), "localhost:D:\\base\\old.fdb");
  TqnEntryForm f;
  f.user = "x";
  f.password = "y";
  f.sendPassword = false;
  SetDefaultCredentials(f);
  EXPECT_EQ(f.user, "SYSDBA");
  EXPECT_EQ(f.password, "quillfern");
  EXPECT_TRUE(f.sendPassword);
}
