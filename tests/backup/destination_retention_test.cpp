// A destination's own retention: the local folder's rules, over what the
// destination's catalogue says the program copied there for this entry,
// never an object it cannot prove its own, never the last good copy, and
// nothing before an object's lock has ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "backup/backup_keeper.h"
#include "backup/destination_copy.h"
#include "backup/destinations.h"
#include "base/error.h"
#include "base/text.h"
#include "ipc/log.h"
#include "platform/files.h"
#include "storage/byte_sources.h"
#include "storage/folder_storage.h"
#include "test_support/fake_clock.h"
#include "test_support/temp_dir.h"

namespace qn {
namespace {

constexpr const char* kEntryId = "0123456789abcdef0123456789abcdef";
constexpr const char* kOtherId = "fedcba9876543210fedcba9876543210";

// A folder whose objects listed in locked report a lock until then, and
// which refuses to delete them as a locking store does.
class LockingFolder : public storage::FolderStorage {
 public:
  using FolderStorage::FolderStorage;
  storage::ObjectInfo Info(const std::string& name) override {
    storage::ObjectInfo info = FolderStorage::Info(name);
    if (locked.count(name)) info.lockedUntilUnix = lockedUntil;
    return info;
  }
  void Remove(const std::string& name) override {
    removeCalls.push_back(name);
    if (locked.count(name)) throw Exception("locked");
    FolderStorage::Remove(name);
  }
  std::set<std::string> locked;
  int64_t lockedUntil = 0;
  std::vector<std::string> removeCalls;
};

TqnCatalogueRecord Copy(const std::string& file, const std::string& start, const std::string& id,
                        const std::string& verification = "verified") {
  TqnCatalogueRecord r;
  r.file = file;
  r.entry = "db0000";
  r.entryId = id;
  r.size = 1;
  r.start = start;
  r.outcome = "ok";
  r.verification = verification;
  return r;
}

class DestinationRetention : public ::testing::Test {
 protected:
  void SetUp() override {
    entry_.name = "db0000";
    entry_.id = kEntryId;
    destination_.name = "nas";
    destination_.kind = "folder";
    destination_.keep.rest = 2;
    destination_.keep.keepRequested = 0;
  }
  void Put(storage::Storage& place, const std::string& name) { place.Write(name, *storage::TextSource("x")); }
  std::vector<std::string> Names(storage::Storage& place) {
    std::vector<std::string> names = place.List();
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  FakeClock clock_{2026, 12, 9, 7, 0, 0};
  TqnLog log_{dir_.path(), false, clock_, nullptr};
  TqnBackupEntry entry_;
  TqnDestination destination_;
  DateTime now_{2026, 12, 9, 7, 0, 0, 0, 3};
};

TEST_F(DestinationRetention, OnlyTheEntrysOwnCopiesGoAndNeverTheLastGoodOne) {
  const std::string folder = Win1251(dir_.path() + "/Копии");
  platform::ForceDirectories(folder);
  LockingFolder place(folder, std::string("qnpartial-") + kEntryId + "-");
  const std::vector<std::string> own = {
      "db0000-auto-2026.12.05-06.30.00-000.bk3", "db0000-auto-2026.12.06-06.30.00-000.bk3",
      "db0000-auto-2026.12.07-06.30.00-000.bk3", "db0000-auto-2026.12.08-06.30.00-000.bk3"};
  for (const std::string& name : own) Put(place, name);
  // Not provably its own: another entry's identity under the same element
  // name, a name the program never gives, a file on no line at all.
  Put(place, "db0000-auto-2026.12.01-06.30.00-000.bk3");
  Put(place, Win1251("db0000-копия Ивана.bk3"));
  Put(place, "db0000-auto-2026.11.30-06.30.00-000.bk3");
  std::vector<TqnCatalogueRecord> lines = {
      Copy("db0000-auto-2026.12.01-06.30.00-000.bk3", "2026-12-01 06:30:00", kOtherId),
      Copy(Win1251("db0000-копия Ивана.bk3"), "2026-12-02 06:30:00", kEntryId),
      Copy(own[0], "2026-12-05 06:30:00", kEntryId),
      Copy(own[1], "2026-12-06 06:30:00", kEntryId),
      Copy(own[2], "2026-12-07 06:30:00", kEntryId),
      Copy(own[3], "2026-12-08 06:30:00", kEntryId),
  };
  WriteCatalogue(place, lines);

  // The two oldest of its own go; their lines with them.
  EXPECT_EQ(PruneCatalogued(entry_, place, "", now_, DestinationRetentionRules(destination_, "db0000"), log_), 2);
  EXPECT_EQ(Names(place), (std::vector<std::string>{"catalogue.txt", "db0000-auto-2026.11.30-06.30.00-000.bk3",
                                                    "db0000-auto-2026.12.01-06.30.00-000.bk3", own[2], own[3],
                                                    Win1251("db0000-копия Ивана.bk3")}));
  EXPECT_EQ(ReadCatalogue(place).size(), 4u);

  // The newest copy could not be checked: with room for one, the newest
  // good one is what stays.
  destination_.keep.rest = 1;
  lines = ReadCatalogue(place);
  lines.push_back(Copy("db0000-auto-2026.12.09-06.30.00-000.bk3", "2026-12-09 06:30:00", kEntryId, "unverified"));
  Put(place, "db0000-auto-2026.12.09-06.30.00-000.bk3");
  WriteCatalogue(place, lines);
  PruneCatalogued(entry_, place, "", now_, DestinationRetentionRules(destination_, "db0000"), log_);
  EXPECT_TRUE(place.Info(own[3]).exists) << "the newest verified copy is never deleted";
  EXPECT_FALSE(place.Info(own[2]).exists);
  // One that could not be checked takes only a place no proven copy needs.
  EXPECT_FALSE(place.Info("db0000-auto-2026.12.09-06.30.00-000.bk3").exists);
}

TEST_F(DestinationRetention, ALockedCopyIsNotDeletedBeforeItsLockEnds) {
  LockingFolder place(dir_.path(), std::string("qnpartial-") + kEntryId + "-");
  const std::vector<std::string> own = {"db0000-auto-2026.12.06-06.30.00-000.bk3",
                                        "db0000-auto-2026.12.07-06.30.00-000.bk3",
                                        "db0000-auto-2026.12.08-06.30.00-000.bk3"};
  std::vector<TqnCatalogueRecord> lines;
  for (size_t i = 0; i < own.size(); ++i) {
    Put(place, own[i]);
    lines.push_back(Copy(own[i], "2026-12-0" + std::to_string(6 + i) + " 06:30:00", kEntryId));
  }
  WriteCatalogue(place, lines);
  destination_.keep.rest = 1;
  place.locked = {own[0], own[1]};
  TqnRetentionRules rules = DestinationRetentionRules(destination_, "db0000");
  rules.nowUnix = 1'800'000'000;
  place.lockedUntil = rules.nowUnix + 86400;

  EXPECT_EQ(PruneCatalogued(entry_, place, "", now_, rules, log_), 0);
  EXPECT_TRUE(place.removeCalls.empty()) << "a locked object is not even asked to go";
  const std::vector<TqnRetentionLine> plan = PlanRetention(entry_, place, "", ReadCatalogue(place), now_, rules);
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[0].reason, "locked");

  // Its lock over, the policy has its way.
  rules.nowUnix = place.lockedUntil + 1;
  place.locked.clear();
  EXPECT_EQ(PruneCatalogued(entry_, place, "", now_, rules, log_), 2);
  EXPECT_EQ(Names(place), (std::vector<std::string>{"catalogue.txt", own[2]}));
}

}  // namespace
}  // namespace qn
