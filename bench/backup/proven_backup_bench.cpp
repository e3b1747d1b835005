// A proven backup as a person asks for it, against the server's own backup
// and restore of the same database; run by hand with the Firebird 3.0
// server on 127.0.0.1:53030 (scripts/firebird-servers.sh start):
//
//   proven_backup_bench [--runs=N] [rows...]     (default 500000, 3 runs)
//
// For each size, makes a database of an office's shape on the server (that
// many operations, a third of their optional values NULL, each registered
// in "tObject", with a primary key and three indexes, and a text note per
// ten operations). Then, in turn, N times each: the program, copied alone
// into a program folder of its own, runs "qndbmgr --backup=db0000" (the
// backup and its proof by a restore into a scratch database whose indexes
// are built and whose counts are compared), timed from start to exit; and
// "gbak -b -g" then "gbak -c" of the same database through the service
// manager, timed together. Prints each pair, where the program's time went
// (from its debug log), the medians, the proof's share of the whole and,
// last, the ratio of the gbak pair's median to the program's.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/text.h"

namespace {

namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kService = " -se localhost/53030:service_mgr -user SYSDBA -pas quillfern ";

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a command, its output into a file; the seconds from start to exit.
double RunTimed(const std::string& command, const std::string& output) {
  auto start = SteadyClock::now();
  std::string full = "env -u FIREBIRD -u ISC_USER -u ISC_PASSWORD " + command + " >" + Quote(output) + " 2>&1";
  int status = std::system(full.c_str());
  double seconds = Seconds(SteadyClock::now() - start).count();
  if (status != 0) throw std::runtime_error("failed: " + command + "\n" + ReadFile(output));
  return seconds;
}

// The database, made by the server from a script: an office's operations,
// NULLs in a third of their optional columns.
void MakeDatabase(const std::string& dir, const std::string& database, long rows) {
  const std::string script = dir + "/make.sql";
  std::ofstream(script, std::ios::binary)
      << "SET NAMES WIN1251;\n"
      << "CREATE DATABASE 'localhost/53030:" << database
      << "' USER 'SYSDBA' PASSWORD 'quillfern' PAGE_SIZE 4096 DEFAULT CHARACTER SET WIN1251;\n"
      << "CREATE TABLE \"tObject\" (\"UID\" CHAR(12) NOT NULL PRIMARY KEY, \"fAge\" INTEGER, \"fCreated\" INTEGER,"
         " \"fChanged\" TIMESTAMP, \"fTable\" VARCHAR(40), \"fState\" CHAR(1), \"fLazy\" INTEGER);\n"
      << "CREATE TABLE \"tOperation\" (\"fObject\" CHAR(12) NOT NULL PRIMARY KEY, \"fDoc\" CHAR(12),"
         " \"fAccount\" CHAR(12), \"fPartner\" CHAR(12), \"fDate\" DATE, \"fEntered\" TIMESTAMP,"
         " \"fSum\" NUMERIC(15,2), \"fQty\" INTEGER, \"fCounter\" BIGINT, \"fName\" VARCHAR(60), \"fCode\" "
         "VARCHAR(10));\n"
      << "CREATE TABLE \"tNote\" (\"fObject\" CHAR(12) NOT NULL PRIMARY KEY, \"fTitle\" VARCHAR(40),"
         " \"fText\" BLOB SUB_TYPE TEXT);\n"
      << "CREATE INDEX \"iOperationDoc\" ON \"tOperation\" (\"fDoc\");\n"
      << "CREATE INDEX \"iOperationDate\" ON \"tOperation\" (\"fDate\");\n"
      << "CREATE INDEX \"iObjectTable\" ON \"tObject\" (\"fTable\");\n"
      << "COMMIT;\nSET TERM ^ ;\n"
      << "EXECUTE BLOCK AS DECLARE i INTEGER = 0; DECLARE id CHAR(12); BEGIN\n"
      << "  WHILE (i < " << rows << ") DO BEGIN\n"
      << "    id = LPAD(i, 12, '0');\n"
      << "    INSERT INTO \"tOperation\" VALUES (:id, IIF(MOD(:i, 3) = 0, NULL, LPAD(:i - MOD(:i, 7), 12, '0')),"
         " IIF(MOD(:i, 3) = 1, NULL, LPAD(MOD(:i * 7, 300), 12, 'A')), IIF(MOD(:i, 3) = 2, NULL, LPAD(MOD(:i * 13, "
         "5000),"
         " 12, 'P')), DATEADD(MOD(:i * 17, 3650) DAY TO DATE '2015-01-01'), DATEADD(MOD(:i * 31, 86400) SECOND TO"
         " TIMESTAMP '2020-01-01 00:00:00'), IIF(MOD(:i, 5) = 0, NULL, MOD(:i * 7919, 100000000) / 100.0),"
         " IIF(MOD(:i, 4) = 0, NULL, MOD(:i, 1000)), (:i * 3 + 1), IIF(MOD(:i, 3) = 1, NULL, '"
      << qn::Win1251("Поступление товаров и услуг ") << "' || :i), IIF(MOD(:i, 2) = 0, NULL, 'K' || MOD(:i, 10000)));\n"
      << "    INSERT INTO \"tObject\" VALUES (:id, 0, 0, CURRENT_TIMESTAMP, 'Operation', 'E', 0);\n"
      << "    IF (MOD(i, 10) = 0) THEN BEGIN\n"
      << "      INSERT INTO \"tNote\" VALUES ('N' || LPAD(:i, 11, '0'), '" << qn::Win1251("Заметка ") << "' || :i,"
      << " IIF(MOD(:i, 30) = 0, NULL, '" << qn::Win1251("Договор поставки согласован с контрагентом ")
      << "' || :i || ASCII_CHAR(13) || ASCII_CHAR(10)));\n"
      << "      INSERT INTO \"tObject\" VALUES ('N' || LPAD(:i, 11, '0'), 0, 0, CURRENT_TIMESTAMP, 'Note', 'E', 0);\n"
      << "    END\n"
      << "    i = i + 1;\n"
      << "  END\n"
      << "END^\nSET TERM ; ^\nCOMMIT;\n";
  RunTimed("isql-fb -q -ch WIN1251 -i " + Quote(script), dir + "/make.txt");
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The milliseconds of the program's timing line in its debug log, in the
// order it writes them; empty when there is none.
std::vector<double> ProgramTimings(const std::string& logFolder) {
  std::string last;
  for (const auto& file : fs::directory_iterator(logFolder)) {
    std::istringstream lines(ReadFile(file.path().string()));
    for (std::string line; std::getline(lines, line);)
      if (line.find(qn::Win1251("Время архивации")) != std::string::npos) last = line;
  }
  std::vector<double> ms;
  const std::string unit = " " + qn::Win1251("мс");
  for (size_t at = last.find(unit); at != std::string::npos; at = last.find(unit, at + 1)) {
    size_t begin = at;
    while (begin > 0 && last[begin - 1] >= '0' && last[begin - 1] <= '9') --begin;
    if (begin < at) ms.push_back(std::atof(last.substr(begin, at - begin).c_str()));
  }
  return ms;
}

const char* const kPhases[] = {"backup",
                               "proof",
                               "restore",
                               "of it indexes",
                               "attachment check",
                               "scratch drop",
                               "SHA-256 beside the proof",
                               "catalogue",
                               "state save",
                               "whole"};
constexpr size_t kPhaseCount = sizeof kPhases / sizeof kPhases[0];

void Bench(const std::string& dir, long rows, int runs) {
  const std::string database = dir + "/live.fd3", backups = dir + "/backups";
  auto start = SteadyClock::now();
  MakeDatabase(dir, database, rows);
  std::printf(
      "database: %ld operations with NULLs in a third of their optional values and %ld notes, each"
      " registered; %.1f MB; made in %.1f s\n",
      rows, rows / 10, static_cast<double>(fs::file_size(database)) / 1e6, Seconds(SteadyClock::now() - start).count());

  // A program folder of its own, with one entry on the Firebird 3.0 server
  // whose backups are proven (the default); the debug log has the timings.
  const std::string program = dir + "/program", objects = dir + "/objects";
  fs::create_directories(program + "/data");
  fs::create_directories(objects);
  fs::create_directories(backups);
  fs::permissions(backups, fs::perms::all);
  fs::copy_file(QN_PROGRAM_PATH, program + "/qndbmgr");
  for (const char* flag : {"ignore-udp.txt", "ignore-tcp.txt", "debug.txt"}) std::ofstream(program + "/" + flag) << "";
  std::ofstream(program + "/settings.xml", std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n    <db0000>\r\n"
      << "      <path>localhost/53030:" << database << "</path>\r\n      <user>SYSDBA</user>\r\n"
      << "      <pwd>quillfern</pwd>\r\n      <backup>\r\n        <auto>0</auto>\r\n        <path>" << backups
      << "/</path>\r\n      </backup>\r\n    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n"
      << "</settings>\r\n";

  std::vector<double> programTimes, pairTimes, ratios, shares;
  std::vector<std::vector<double>> phases(kPhaseCount);
  const std::string fbk = dir + "/gbak.fbk", again = dir + "/gbak.fd3";
  for (int run = 1; run <= runs; ++run) {
    fs::remove_all(program + "/log");
    const double programSeconds =
        RunTimed("QN_OBJECTS_DIR=" + Quote(objects) + " QN_REGISTRY_DIR=" + Quote(objects + "/registry") + " " +
                     Quote(program + "/qndbmgr") + " --backup=db0000 </dev/null",
                 dir + "/program.txt");
    const std::vector<double> ms = ProgramTimings(program + "/log");
    // The bench's own folder: the backups of this run go before the next.
    for (const auto& file : fs::directory_iterator(backups)) fs::remove(file.path());

    const double backupSeconds =
        RunTimed("gbak -b -g" + std::string(kService) + Quote(database) + " " + Quote(fbk), dir + "/gbak-b.txt");
    const double restoreSeconds =
        RunTimed("gbak -c" + std::string(kService) + Quote(fbk) + " " + Quote(again), dir + "/gbak-c.txt");
    fs::remove(fbk);
    fs::remove(again);
    const double pair = backupSeconds + restoreSeconds;
    programTimes.push_back(programSeconds);
    pairTimes.push_back(pair);
    ratios.push_back(pair / programSeconds);
    for (size_t i = 0; i < kPhaseCount && i < ms.size(); ++i) phases[i].push_back(ms[i]);
    const double share = ms.size() > 1 ? ms[1] / 1000 / programSeconds : 0;
    shares.push_back(share);
    std::printf(
        "run %d: program (qndbmgr --backup=db0000) %.2f s, proof %.0f%% of it; gbak -b -g %.2f s +"
        " gbak -c %.2f s = %.2f s; ratio gbak pair/program %.3f\n",
        run, programSeconds, share * 100, backupSeconds, restoreSeconds, pair, pair / programSeconds);
    std::fflush(stdout);
  }
  std::printf("program's time, medians (ms):");
  for (size_t i = 0; i < kPhaseCount; ++i)
    if (!phases[i].empty()) std::printf("%s %s %.0f", i ? "," : "", kPhases[i], Median(phases[i]));
  std::printf(
      "\nmedians at %ld rows: program %.2f s, gbak pair %.2f s, proof's share %.0f%%, median of the pair"
      " ratios %.3f; ratio gbak pair/program %.3f\n",
      rows, Median(programTimes), Median(pairTimes), Median(shares) * 100, Median(ratios),
      Median(pairTimes) / Median(programTimes));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes;
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--runs=", 0) == 0) {
      runs = std::max(1, std::atoi(arg.c_str() + 7));
      continue;
    }
    long rows = 0;
    std::from_chars(arg.data(), arg.data() + arg.size(), rows);
    if (rows > 0) sizes.push_back(rows);
  }
  if (sizes.empty()) sizes.push_back(500000);
  ::unsetenv("FIREBIRD");
  int status = 0;
  for (long rows : sizes) {
    // The server writes the database, the backups and the scratch copies itself.
    const std::string dir =
        (fs::temp_directory_path() / ("qn-backup-bench." + std::to_string(::getpid()) + "." + std::to_string(rows)))
            .string();
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    try {
      Bench(dir, rows, runs);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "proven_backup_bench: %s\n", e.what());
      status = 1;
    }
    if (!std::getenv("QN_BENCH_KEEP")) fs::remove_all(dir);
  }
  return status;
}
