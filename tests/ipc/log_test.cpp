#include <cstdlib>
#include <map>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "base/sha1.h"
#include "ipc/log.h"
#include "platform/files.h"
#include "platform/system.h"
#include "test_support/child_process.h"
#include "test_support/fake_clock.h"
#include "test_support/temp_dir.h"

using namespace qn;

// args: program folder, writer tag, count. Writes count records.
QN_CHILD_MODE(log_writer) {
  platform::SystemClock clock;
  TqnLog log(args[0], false, clock, nullptr);
  int n = std::stoi(args[2]);
  for (int i = 0; i < n; ++i) log.WriteLog(args[1] + " " + std::to_string(i));
  return 0;
}

TEST(Log, WritesTheDailyFileAndThePaneInTheirFormats) {
  TempDir dir;
  FakeClock clock(2026, 12, 6, 7, 5, 9);
  TqnMessagePane pane;
  TqnLog log(dir.path(), false, clock, &pane);
  log.WriteLog("first");
  log.WriteLog("line\r\nbreak\tand tab");
  std::string file = platform::ReadFile(dir.File("log/log-2026.12.06.txt"));
  EXPECT_EQ(file,
            "\r\n2026.12.06 07.05.09 first\r\n"
            "\r\n2026.12.06 07.05.09 line  break and tab\r\n");
  std::vector<std::string> expected = {"2026.06.12 07.05.09: first", "", "2026.06.12 07.05.09: line", "break\tand tab",
                                       ""};
  EXPECT_EQ(pane.Lines(), expected);
}

TEST(Log, DebugLinesNeedTheDebugFlag) {
  TempDir dir;
  FakeClock clock(2026, 1, 2);
  TqnMessagePane pane;
  TqnLog quiet(dir.path(), false, clock, &pane);
  quiet.LogMessage("hidden", 2);
  EXPECT_EQ(pane.LineCount(), 0u);
  EXPECT_FALSE(platform::FileExists(dir.File("log/log-2026.01.02.txt")));
  quiet.LogMessage("shown", 0);
  TqnLog verbose(dir.path(), true, clock, &pane);
  verbose.LogMessage("debug", 2);
  EXPECT_EQ(pane.LineCount(), 4u);
}

TEST(Log, ReportErrorShowsOnlyWhenAsked) {
  TempDir dir;
  FakeClock clock(2026, 1, 2);
  TqnLog log(dir.path(), false, clock, nullptr);
  std::vector<std::string> boxes;
  log.SetErrorBox([&](const std::string& t) { boxes.push_back(t); });
  log.ReportError("quiet", false);
  log.ReportError("loud", true);
  EXPECT_EQ(boxes, std::vector<std::string>{"loud"});
  EXPECT_NE(platform::ReadFile(dir.File("log/log-2026.01.02.txt")).find("quiet"), std::string::npos);
}

TEST(MessagePane, ClearsWhenTheNextRecordFindsMoreThanAThousandLines) {
  TqnMessagePane pane;
  int clears = 0;
  pane.SetObserver([&](bool cleared, const std::vector<std::string>&) { clears += cleared; });
  for (int i = 1; i <= 501; ++i) pane.AddRecord("r" + std::to_string(i));
  EXPECT_EQ(pane.LineCount(), 1002u);
  EXPECT_EQ(clears, 0);
  pane.AddRecord("r502");
  EXPECT_EQ(pane.Lines(), (std::vector<std::string>{"r502", ""}));
  EXPECT_EQ(clears, 1);
}

TEST(Log, FallsBackToTheTemporaryFolder) {
  TempDir dir, tmp;
  platform::WriteFileReplacing(dir.File("log"), "a file where the folder should be");
  {
    TempFolderOverride redirect(tmp.path());
    FakeClock clock(2026, 3, 4, 5, 6, 7);
    TqnLog log(dir.path(), false, clock, nullptr);
    log.WriteLog("one");
    log.WriteLog("two");
    log.WriteNamedLog("backup", "gbak: line");
  }
  EXPECT_EQ(platform::ReadFile(tmp.File("log-2026.03.04.txt")),
            "\r\n2026.03.04 05.06.07 can not create local error log file\r\n"
            "\r\n2026.03.04 05.06.07 one\r\n"
            "\r\n2026.03.04 05.06.07 can not create local error log file\r\n"
            "\r\n2026.03.04 05.06.07 two\r\n");
  EXPECT_EQ(platform::ReadFile(tmp.File("log-backup-2026.03.04.txt")), "gbak: line\r\n");
}

TEST(Log, NamedLogsKeepTheirTextAndHaveTheirOwnMutex) {
  TempDir dir;
  FakeClock clock(2026, 12, 6);
  TqnLog log(dir.path(), false, clock, nullptr);
  log.WriteNamedLog("remotebackup", "gbak:\tverbose");
  log.WriteNamedLog("remotebackup", "second");
  EXPECT_EQ(platform::ReadFile(dir.File("log/log-remotebackup-2026.12.06.txt")), "gbak:\tverbose\r\nsecond\r\n");
  EXPECT_EQ(TqnLog::NamedMutexName("backup"), "RU.QUORVEN.RAZAD.LOGSYNC." + Sha1Hex("backup").substr(0, 8));
  EXPECT_EQ(TqnLog::NamedMutexName("backup").size(), std::string("RU.QUORVEN.RAZAD.LOGSYNC.").size() + 8);
}

// Two processes and two threads write to one daily file at once: every
// record arrives whole, none is lost, and each writer's records keep their
// order.
TEST(Log, ConcurrentWritersNeitherLoseNorInterleaveRecords) {
  TempDir dir;
  qntest::ChildProcess a("log_writer", {dir.path(), "childA", "1000"});
  qntest::ChildProcess b("log_writer", {dir.path(), "childB", "1000"});
  platform::SystemClock clock;
  TqnLog log(dir.path(), false, clock, nullptr);
  std::thread t([&] {
    for (int i = 0; i < 300; ++i) log.WriteLog("thread " + std::to_string(i));
  });
  for (int i = 0; i < 300; ++i) log.WriteLog("main " + std::to_string(i));
  t.join();
  ASSERT_EQ(a.Wait(), 0);
  ASSERT_EQ(b.Wait(), 0);
  std::string content;
  for (const auto& name : TempDir::ListDir(dir.File("log"))) content += platform::ReadFile(dir.File("log/" + name));
  std::regex record("\r\n\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d (\\w+) (\\d+)\r\n");
  std::map<std::string, int> next;
  size_t consumed = 0;
  for (std::sregex_iterator it(content.begin(), content.end(), record), end; it != end; ++it) {
    ASSERT_EQ(static_cast<size_t>(it->position()), consumed) << "garbage between records";
    consumed += it->length();
    std::string who = (*it)[1];
    EXPECT_EQ(std::stoi((*it)[2]), next[who]) << who;
    next[who] = std::stoi((*it)[2]) + 1;
  }
  EXPECT_EQ(consumed, content.size());
  EXPECT_EQ(next["childA"], 1000);
  EXPECT_EQ(next["childB"], 1000);
  EXPECT_EQ(next["main"], 300);
  EXPECT_EQ(next["thread"], 300);
}
