// What monitoring systems read of the backups' state, each read back with a
// parser of the format's own: the Nagios plugin's line by the plugin
// guidelines' grammar, the Prometheus textfile by promtool, Zabbix's
// discovery and the status JSON by a JSON parser.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include <sys/wait.h>

#include "backup/backup_catalogue.h"
#include "backup/backup_names.h"
#include "backup/status_textfile.h"
#include "base/text.h"
#include "cli/command_local.h"
#include "cli/status_nagios.h"
#include "platform/files.h"
#include "test_support/fake_clock.h"
#include "test_support/temp_dir.h"
#include "test_support/test_register.h"

namespace qn {
namespace {

struct ShellRun {
  int code = -1;
  std::string out;
};

ShellRun Shell(const std::string& command) {
  ShellRun r;
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Now is 2026-12-09 12:00. db0000 "Главная" was verified at 09:00 (three
// hours ago, catalogued with its size and restore time in a folder with a
// Cyrillic name), db0001 last at 2026-12-07 12:00 (48 hours, past the 36),
// db0002's latest backup failed, db0003 has no automatic backups.
class StatusFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = NormalizeBackupFolder(dir_.path() + "/" + Win1251("Резервные копии"));
    platform::ForceDirectories(folder_);
    root_ = NewSettings();
    Add(0, Win1251("Главная \"бухгалтерия\""), "verified", "2026-12-09 09:00:00", "2026-12-09 09:00:00", "");
    Add(1, "", "verified", "2026-12-07 12:00:00", "2026-12-07 12:00:00", "");
    Add(2, Win1251("Склад"), "failed", "2026-12-09 06:30:00", "2026-12-09 02:00:00", Win1251("нет места | диск"));
    AddTestEntry(*root_, 3, "", "localhost:/srv/db/three.fdb");
    TqnCatalogueRecord old{"auto-1.fbk", "db0000", 1000, "", "2026-12-08 09:00:00", 10, "ok", "verified", 900, "", ""};
    TqnCatalogueRecord newest{"auto-2.fbk", "db0000", 52428800, "", "2026-12-09 08:59:00", 10, "ok",
                              "verified",   12345,    "",       ""};
    TqnCatalogueRecord failed{"auto-3.fbk", "db0000", 7,  "", "2026-12-09 09:30:00", 10, "failed",
                              "unverified", 0,        "", ""};
    WriteCatalogue(folder_, {old, newest, failed});
  }

  void Add(int number, const std::string& caption, const std::string& state, const std::string& time,
           const std::string& verified, const std::string& message) {
    TqnNode* e = AddTestEntry(*root_, number, caption, "localhost:/srv/db/" + std::to_string(number) + ".fdb");
    e->Node("backup")->Node("auto")->SetText("1");
    e->Node("backup")->Node("path")->SetText(folder_);
    WriteBackupState(*e, {state, time, verified, message, ""});
  }

  std::string Status(TqnStatusFormat format, int& code) {
    const TqnStatusReport report = StatusReport(*root_, clock_.Now(), format);
    code = report.exitCode;
    return report.text;
  }

  // A JSON text read by Python's parser and written back in one canonical
  // form (keys sorted, UTF-8 as it is).
  std::string Canonical(const std::string& json) {
    std::ofstream(dir_.File("in.json"), std::ios::binary) << json;
    const ShellRun r = Shell(
        "python3 -c 'import json,sys; print(json.dumps(json.load(open(sys.argv[1], encoding=\"utf-8\")),"
        " sort_keys=True, ensure_ascii=False, separators=(\",\", \":\")))' " +
        dir_.File("in.json"));
    EXPECT_EQ(r.code, 0) << r.out;
    return r.out;
  }

  TempDir dir_;
  std::string folder_;
  std::unique_ptr<TqnNode> root_;
  FakeClock clock_{2026, 12, 9, 12, 0, 0};
};

// The plugin guidelines' performance data: 'label'=value[UOM];[warn];[crit];[min];[max].
const std::regex kPerfDatum(
    R"(('[^'=]+'|[^'= ]+)=(-?[0-9]+(\.[0-9]+)?|U)(s|ms|us|%|B|KB|MB|TB|c)?(;@?[-~0-9.:]*){0,2}(;-?[0-9.]*){0,2})");

TEST_F(StatusFormats, NagiosLineFollowsThePluginGrammarWithTheFiguresAndTheWorstState) {
  int code = -1;
  const std::vector<std::string> lines = Lines(Status(TqnStatusFormat::Nagios, code));
  EXPECT_EQ(code, 2);
  ASSERT_GE(lines.size(), 4u);
  const size_t bar = lines[0].find(" | ");
  ASSERT_NE(bar, std::string::npos) << lines[0];
  const std::string text = lines[0].substr(0, bar);
  EXPECT_LE(text.size(), kNagiosLineLimit) << text;
  EXPECT_EQ(text, "BACKUP CRITICAL - failed: db0002; stale: db0001");
  std::map<std::string, std::string> perf;
  std::istringstream data(lines[0].substr(bar + 3));
  for (std::string datum; data >> datum;) {
    EXPECT_TRUE(std::regex_match(datum, kPerfDatum)) << datum;
    perf[datum.substr(0, datum.find('='))] = datum.substr(datum.find('=') + 1);
  }
  EXPECT_EQ(perf.size(), 9u) << lines[0];
  EXPECT_EQ(perf["'db0000_age'"], "10800s;129600;;0");
  EXPECT_EQ(perf["'db0000_size'"], "52428800B;;;0") << "the newest verified backup, not the failed one after it";
  EXPECT_EQ(perf["'db0000_restore'"], "12.345s;;;0");
  EXPECT_EQ(perf["'db0001_age'"], "172800s;129600;;0");
  EXPECT_EQ(perf["'db0001_size'"], "U;;;0") << "nothing catalogued for db0001";
  EXPECT_EQ(perf["'db0002_age'"], "36000s;129600;;0");
  // The long text: one line per entry, no "|" that would start performance data.
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].find('|'), std::string::npos) << lines[i];
  EXPECT_EQ(lines[3], "db0002 (Склад): failed, last verified 2026-12-09 02:00:00: нет места / диск");

  // Well again: OK, and a summary that says how fresh.
  for (int n : {1, 2}) RegisterOf(*root_)->FindNode(EntryName(n))->Node("backup")->Node("auto")->SetText("0");
  const std::string ok = Lines(Status(TqnStatusFormat::Nagios, code))[0];
  EXPECT_EQ(ok.substr(0, ok.find(" | ")), "BACKUP OK - 1 verified within 36h");
  EXPECT_EQ(code, 0);
  // Many stale entries still make a first line of at most 80 characters.
  for (int n = 10; n < 40; ++n) Add(n, "", "verified", "2026-12-01 00:00:00", "2026-12-01 00:00:00", "");
  const std::string many = Lines(Status(TqnStatusFormat::Nagios, code))[0];
  EXPECT_EQ(code, 1);
  EXPECT_LE(many.find(" | "), kNagiosLineLimit) << many;
  EXPECT_EQ(many.compare(0, 30, "BACKUP WARNING - stale: db0010"), 0) << many;
  EXPECT_NE(many.find(" ... | "), std::string::npos) << many;
  EXPECT_EQ(NagiosUnknown(Win1251("нет файла")), "BACKUP UNKNOWN - the state cannot be read\nнет файла\n");
}

TEST_F(StatusFormats, TextfilePassesPromtoolAndReplacesOnlyItsOwnFile) {
  const TqnStatusSnapshot snapshot = ReadStatusFigures(*root_, clock_.Now());
  const std::string file = dir_.path() + "/" + Win1251("мониторинг") + "/qndbmgr.prom";
  platform::ForceDirectories(platform::ExtractFileDir(file));
  ReplaceStatusTextfile(file, PrometheusText(snapshot));
  const std::string kernelName = dir_.path() + "/мониторинг/qndbmgr.prom";
  const ShellRun check = Shell("promtool check metrics < '" + kernelName + "'");
  EXPECT_EQ(check.code, 0) << "promtool (Debian's prometheus, scripts/install-deps.sh) says:\n" << check.out;
  EXPECT_EQ(check.out, "") << "no lint complaints";
  const std::string text = ReadAll(kernelName);
  for (const char* line :
       {"qndbmgr_backup_size_bytes{entry=\"db0000\",caption=\"Главная \\\"бухгалтерия\\\"\"} 52428800\n",
        "qndbmgr_backup_restore_duration_seconds{entry=\"db0000\",caption=\"Главная \\\"бухгалтерия\\\"\"} 12.345\n",
        "qndbmgr_backup_state{entry=\"db0002\",caption=\"Склад\",state=\"failed\"} 1\n",
        "qndbmgr_backup_state{entry=\"db0001\",caption=\"\",state=\"ok\"} 0\n",
        "qndbmgr_backup_state{entry=\"db0001\",caption=\"\",state=\"stale\"} 1\n",
        "qndbmgr_backup_stale_threshold_seconds 129600\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  EXPECT_EQ(text.find("db0003"), std::string::npos) << "no automatic backups, not monitored";
  EXPECT_EQ(text.find("qndbmgr_backup_size_bytes{entry=\"db0001\""), std::string::npos) << "no made-up figures";
  // The Unix times: the zone's own reading of the local times.
  const int64_t verified = StampUnixTime("2026-12-09 09:00:00");
  EXPECT_EQ(StampUnixTime("2026-12-09 12:00:00") - verified, 10800);
  EXPECT_NE(text.find("qndbmgr_backup_last_verified_timestamp_seconds{entry=\"db0000\",caption=\"Главная "
                      "\\\"бухгалтерия\\\"\"} " +
                      std::to_string(verified) + "\n"),
            std::string::npos)
      << text;

  // Its own file is replaced whole; no temporary file stays beside it.
  RegisterOf(*root_)->FindNode("db0002")->Node("backup")->Node("auto")->SetText("0");
  ReplaceStatusTextfile(file, PrometheusText(ReadStatusFigures(*root_, clock_.Now())));
  EXPECT_EQ(ReadAll(kernelName).find("db0002"), std::string::npos);
  EXPECT_EQ(TempDir::ListDir(dir_.path() + "/мониторинг"), std::vector<std::string>{"qndbmgr.prom"});
  // Somebody else's file is left as it is.
  std::ofstream(dir_.File("other.prom"), std::ios::binary) << "node_foo 1\n";
  EXPECT_THROW(ReplaceStatusTextfile(dir_.File("other.prom"), text), std::exception);
  EXPECT_EQ(ReadAll(dir_.File("other.prom")), "node_foo 1\n");
  // The settings key that names it.
  EXPECT_EQ(StatusTextfilePath(*root_), "");
  root_->Node("status")->Node("textfile")->SetText(file);
  EXPECT_EQ(StatusTextfilePath(*root_), file);
}

TEST_F(StatusFormats, ZabbixDiscoveryAndStatusJsonAreJsonWithTheFigures) {
  int code = -1;
  EXPECT_EQ(Canonical(Status(TqnStatusFormat::ZabbixDiscovery, code)),
            "[{\"{#CAPTION}\":\"Главная \\\"бухгалтерия\\\"\",\"{#ENTRY}\":\"db0000\"},"
            "{\"{#CAPTION}\":\"\",\"{#ENTRY}\":\"db0001\"},{\"{#CAPTION}\":\"Склад\",\"{#ENTRY}\":\"db0002\"}]\n");
  EXPECT_EQ(code, 2);
  const std::string json = Canonical(Status(TqnStatusFormat::Json, code));
  const std::string first =
      "{\"age_seconds\":10800,\"caption\":\"Главная \\\"бухгалтерия\\\"\",\"destinations\":[],\"key\":\"db0000\","
      "\"last_backup_time\":" +
      std::to_string(StampUnixTime("2026-12-09 09:00:00")) +
      ",\"last_verified\":\"2026-12-09 09:00:00\",\"last_verified_time\":" +
      std::to_string(StampUnixTime("2026-12-09 09:00:00")) +
      ",\"message\":\"\",\"restore_seconds\":12.345,\"size_bytes\":52428800,\"state\":\"ok\"}";
  EXPECT_NE(json.find(first), std::string::npos) << json;
  EXPECT_NE(json.find("\"restore_seconds\":null,\"size_bytes\":null,\"state\":\"stale\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"stale_hours\":36,\"status\":2}"), std::string::npos) << json;
}

}  // namespace
}  // namespace qn
