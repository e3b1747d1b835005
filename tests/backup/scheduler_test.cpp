// The scheduler pass against a fake clock and a recording backup action.
#include "backup/scheduler.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "base/error.h"
#include "test_support/fake_clock.h"

namespace qn {
namespace {

class Schedule : public ::testing::Test {
 protected:
  Schedule() : root_(std::make_unique<TqnNode>("settings")), clock_(2024, 3, 4) {}  // Monday

  TqnNode* Entry(const std::string& name, const std::string& weekdays = "1111100", int time = 390, int num = 1,
                 int interval = 60) {
    TqnNode* entry = root_->Node("data")->AddNode(name);
    TqnNode* backup = entry->Node("backup");
    backup->Node("auto")->Content().SetBoolean(true);
    backup->Node("weekdays")->Content().SetString(weekdays);
    backup->Node("time")->Content().SetInteger(time);
    backup->Node("num")->Content().SetInteger(num);
    backup->Node("interval")->Content().SetInteger(interval);
    return entry;
  }
  // Day of March 2024 (the 4th is a Monday) at hh:mm.
  void At(int day, int hour, int minute) {
    DateTime t;
    t.year = 2024, t.month = 3, t.day = day, t.hour = hour, t.minute = minute, t.second = 40;
    t.weekday = (day - 4) % 7 + 1;
    clock_.Set(t);
  }
  // One pass; the names backed up in it.
  std::vector<std::string> Pass() {
    std::vector<std::string> done;
    TqnSchedulerContext ctx;
    ctx.root = root_.get();
    ctx.failures = &failures_;
    ctx.clock = &clock_;
    ctx.backup = [&](const TqnNode& entry) {
      if (entry.Name() == failing_) throw Exception("backup failed");
      done.push_back(entry.Name());
    };
    ctx.change = [](const std::function<void()>& f) { f(); };
    ctx.save = [&] { ++saves_; };
    if (unattended_) {
      ctx.failedAt = &failedAt_;
      ctx.unreadable = &unreadable_;
      ctx.report = [&](const std::string& message) { reports_.push_back(message); };
    }
    RunSchedulerPass(ctx);
    return done;
  }
  int Runs(int day, int fromMinute, int toMinute) {  // passes once a minute
    int runs = 0;
    for (int m = fromMinute; m <= toMinute; ++m) {
      At(day, m / 60, m % 60);
      runs += static_cast<int>(Pass().size());
    }
    return runs;
  }
  std::string Stat(const TqnNode* entry, const char* key) {
    return entry->FindNode("backup")->FindNode("stat")->FindNode(key)->Content().AsString("<none>");
  }

  std::unique_ptr<TqnNode> root_;
  FakeClock clock_;
  std::set<std::string> failures_;
  std::string failing_;
  int saves_ = 0;
  // The run's way: failed entries cool down, unreadable states are reported.
  bool unattended_ = false;
  std::map<std::string, long long> failedAt_;
  std::set<std::string> unreadable_;
  std::vector<std::string> reports_;
};

using V = std::vector<std::string>;

TEST_F(Schedule, WeekdaysAtHalfPastSixOncePerDay) {
  TqnNode* e = Entry("db0000");
  At(4, 6, 29);
  EXPECT_EQ(Pass(), V{});
  At(4, 6, 30);
  EXPECT_EQ(Pass(), V{"db0000"});
  EXPECT_EQ(Stat(e, "num_done"), "1");
  EXPECT_EQ(Stat(e, "last"), "2024-03-04 06:30");
  EXPECT_EQ(saves_, 1);
  EXPECT_EQ(Runs(4, 6 * 60 + 31, 23 * 60 + 59), 0);
  // Friday runs, Saturday and Sunday do not.
  EXPECT_EQ(Runs(8, 0, 12 * 60), 1);
  EXPECT_EQ(Runs(9, 0, 24 * 60 - 1), 0);
  EXPECT_EQ(Runs(10, 0, 24 * 60 - 1), 0);
  EXPECT_EQ(Runs(11, 0, 12 * 60), 1);
  EXPECT_EQ(Stat(e, "num_done"), "1");  // a new day starts from 0 again
}

TEST_F(Schedule, SeveralPerDayNeedMoreThanTheIntervalInWholeMinutes) {
  TqnNode* e = Entry("db0000", "1111111", 390, 3, 60);
  std::vector<int> at;
  for (int m = 390; m < 24 * 60; ++m) {
    At(5, m / 60, m % 60);
    if (!Pass().empty()) at.push_back(m);
  }
  // 06:30, then the 61st minute after each run, then no more that day.
  EXPECT_EQ(at, (std::vector<int>{390, 451, 512}));
  EXPECT_EQ(Stat(e, "num_done"), "3");
}

TEST_F(Schedule, TheDayChangesAtMidnight) {
  TqnNode* e = Entry("db0000", "1111111", 390, 2, 60);
  e->FindNode("backup")->Node("stat")->Node("last")->Content().SetString("2024-03-04 23:50");
  e->FindNode("backup")->Node("stat")->Node("num_done")->Content().SetInteger(1);
  EXPECT_EQ(Runs(4, 23 * 60 + 50, 23 * 60 + 59), 0);
  EXPECT_EQ(Runs(5, 0, 389), 0);
  At(5, 6, 30);
  EXPECT_EQ(Pass(), V{"db0000"});
  EXPECT_EQ(Stat(e, "num_done"), "1");
}

TEST_F(Schedule, ALastRunInTheFutureWaitsUntilThatDayHasPassed) {
  TqnNode* e = Entry("db0000", "1111111");
  e->FindNode("backup")->Node("stat")->Node("last")->Content().SetString("2024-03-06 05:00");
  EXPECT_EQ(Runs(5, 390, 24 * 60 - 1), 0);
  EXPECT_EQ(Runs(6, 390, 400), 0);
  EXPECT_EQ(Runs(7, 390, 400), 1);
}

TEST_F(Schedule, UnreadableLastCountsAsNeverRun) {
  for (const char* last : {"", "2024-03-04", "2024-03-04 6:30x", "abcd-03-04 06:30"}) {
    root_ = std::make_unique<TqnNode>("settings");
    TqnNode* e = Entry("db0000", "1111111");
    e->FindNode("backup")->Node("stat")->Node("last")->Content().SetString(last);
    At(4, 7, 0);
    EXPECT_EQ(Pass(), V{"db0000"}) << last;
  }
}

TEST_F(Schedule, BadWeekdaysAndNamesThatAreNoEntriesAreSkipped) {
  Entry("db0000", "1111");
  Entry("db0001", "11111x1");
  Entry("db0002", "11111111");
  Entry("db12", "1111111");
  Entry("dbx001", "1111111");
  TqnNode* off = Entry("db0003", "1111111");
  off->FindNode("backup")->FindNode("auto")->Content().SetBoolean(false);
  Entry("db0004", "1111111");
  At(4, 12, 0);
  EXPECT_EQ(Pass(), V{"db0004"});
}

TEST_F(Schedule, AFailingBackupGoesToTheFailureListAndEndsThePass) {
  TqnNode* first = Entry("db0000", "1111111");
  Entry("db0001", "1111111");
  failing_ = "db0000";
  At(4, 12, 0);
  EXPECT_THROW(Pass(), Exception);
  EXPECT_EQ(failures_, (std::set<std::string>{"db0000"}));
  EXPECT_EQ(Stat(first, "last"), "");
  EXPECT_EQ(saves_, 0);
  // The next pass skips the failed entry and reaches the next one.
  EXPECT_EQ(Pass(), V{"db0001"});
}

TEST_F(Schedule, AnImpossibleDateFailsThePassWithoutAFailureListEntry) {
  Entry("db0000", "1111111")->FindNode("backup")->Node("stat")->Node("last")->Content().SetString("2024-13-01 06:30");
  Entry("db0001", "1111111");
  At(4, 12, 0);
  for (int i = 0; i < 2; ++i) EXPECT_THROW(Pass(), Exception);  // repeats on every tick
  EXPECT_TRUE(failures_.empty());
  root_->FindNode("data")
      ->FindNode("db0000")
      ->FindNode("backup")
      ->FindNode("stat")
      ->FindNode("last")
      ->Content()
      .SetString("2024-03-01 25:30");
  EXPECT_THROW(Pass(), Exception);
}

TEST_F(Schedule, AFailedEntryIsTriedAgainAfterItsCoolDownNotBefore) {
  unattended_ = true;
  Entry("db0000", "1111111", 0, 1, 90);  // cool-down: the interval, 90 minutes
  Entry("db0001", "1111111", 0, 1, 5);   // cool-down: an hour
  failing_ = "db0000";
  At(4, 12, 0);
  EXPECT_THROW(Pass(), Exception);
  failing_ = "db0001";
  EXPECT_THROW(Pass(), Exception);
  EXPECT_EQ(failures_, (std::set<std::string>{"db0000", "db0001"}));
  failing_.clear();  // the disk has been emptied
  At(4, 12, 59);
  EXPECT_EQ(Pass(), V{});
  At(4, 13, 0);
  EXPECT_EQ(Pass(), V{"db0001"});
  At(4, 13, 29);
  EXPECT_EQ(Pass(), V{});
  At(4, 13, 30);
  EXPECT_EQ(Pass(), V{"db0000"});
  EXPECT_TRUE(failures_.empty());
  At(4, 18, 0);
  EXPECT_EQ(Pass(), V{}) << "once recovered, the normal rules hold: one a day";
}

TEST_F(Schedule, AnUnreadableLastStopsOnlyItsOwnEntryAndIsReportedOnce) {
  unattended_ = true;
  TqnNode* bad = Entry("db0000", "1111111");
  bad->FindNode("backup")->Node("stat")->Node("last")->Content().SetString("2024-13-01 06:30");
  Entry("db0001", "1111111");
  At(4, 12, 0);
  EXPECT_EQ(Pass(), V{"db0001"});
  At(5, 12, 0);
  EXPECT_EQ(Pass(), V{"db0001"});
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_NE(reports_[0].find("db0000"), std::string::npos);
  EXPECT_TRUE(failures_.empty());
  bad->FindNode("backup")->FindNode("stat")->FindNode("last")->Content().SetString("2024-03-01 06:30");
  EXPECT_EQ(Pass(), V{"db0000"}) << "a mended state is read again";
}

TEST(ScheduleStamp, DayNumbersAreConsecutiveAcrossMonthsAndYears) {
  EXPECT_EQ(DayNumber(2024, 3, 1) - DayNumber(2024, 2, 28), 2);  // leap year
  EXPECT_EQ(DayNumber(2023, 3, 1) - DayNumber(2023, 2, 28), 1);
  EXPECT_EQ(DayNumber(2025, 1, 1) - DayNumber(2024, 12, 31), 1);
  EXPECT_THROW(DayNumber(2023, 2, 29), Exception);
  EXPECT_EQ(ParseLastRun("2024-03-04 06:30").minutes, 390);
  EXPECT_EQ(ParseLastRun("2024/03/04T06.30").day, DayNumber(2024, 3, 4));  // separators are not looked at
}

}  // namespace
}  // namespace qn
