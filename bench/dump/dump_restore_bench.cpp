// The whole restore of a logical dump, as a person runs it, against the
// server's own restore of the very database it produced; run by hand with
// the Firebird 3.0 server on 127.0.0.1:53030 (scripts/firebird-servers.sh
// start):
//
//   dump_restore_bench [--shape=bench|office] [rows...]   (default 200000, both shapes)
//
// With QN_BENCH_KEEP=1 in the environment the folder of each size (archive,
// program folder, both databases) stays in the temporary folder, to run the
// program on the same archive again.
//
// For each size, writes a ".pbz" archive of an accounting database: that
// many operations (three object references, a date, a time stamp, an
// amount, a quantity, a counter, a Russian name and a short code), each
// registered in "tObject", and one text note per ten operations, in one of
// two shapes: the bench's, every value present and ordinary; or an
// office's, where about a third of the optional values are NULL (written
// empty, as a dump writes them), the first rows of each table hold the
// edge values (the smallest and largest integers and amounts, years 1900
// and of three digits, texts as long as their columns, empty texts, texts
// with trailing blanks and escapes), and the notes' BLOBs are now and then
// empty. Then the
// program, copied alone into a program folder of its own, restores it with
// "qndbmgr --restore=db0000 --from=FILE --yes=1", timed from start to exit;
// the result is backed up with "gbak -b" and restored with "gbak -c",
// both through the service manager. Prints the shape of the rows, both
// times, rows per second, the program's peak resident memory and, last,
// the ratio of the program's rate to gbak's; at the end, each shape's
// ratios once more, the ratio last on each line.
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "bench_zip.h"
#include "dump/dump_text.h"

namespace {

using Seconds = std::chrono::duration<double>;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kService = " -se localhost/53030:service_mgr -user SYSDBA -pas quillfern ";

const char* const kTables =
    "CREATE TABLE \"tObject\" (\"UID\" CHAR(12) NOT NULL PRIMARY KEY, \"fAge\" INTEGER, \"fCreated\" INTEGER,"
    " \"fChanged\" TIMESTAMP, \"fTable\" VARCHAR(40), \"fState\" CHAR(1), \"fLazy\" INTEGER);\n"
    "CREATE TABLE \"tDatabase\" (\"fDeactivate\" BLOB SUB_TYPE TEXT, \"fMeta\" BLOB SUB_TYPE TEXT);\n"
    "CREATE TABLE \"tOperation\" (\"fObject\" CHAR(12) NOT NULL PRIMARY KEY, \"fDoc\" CHAR(12),"
    " \"fAccount\" CHAR(12), \"fPartner\" CHAR(12), \"fDate\" DATE, \"fEntered\" TIMESTAMP,"
    " \"fSum\" NUMERIC(15,2), \"fQty\" INTEGER, \"fCounter\" BIGINT, \"fName\" VARCHAR(60), \"fCode\" VARCHAR(10));\n"
    "CREATE TABLE \"tNote\" (\"fObject\" CHAR(12) NOT NULL PRIMARY KEY, \"fTitle\" VARCHAR(40),"
    " \"fText\" BLOB SUB_TYPE TEXT);\n"
    "CREATE GENERATOR \"gOperation\";\n"
    "INSERT INTO \"tDatabase\" VALUES (NULL, NULL);\n";

const char* const kDdl =
    "CREATE INDEX \"iOperationDoc\" ON \"tOperation\" (\"fDoc\");\r\n"
    "CREATE INDEX \"iOperationDate\" ON \"tOperation\" (\"fDate\");\r\n"
    "CREATE INDEX \"iObjectTable\" ON \"tObject\" (\"fTable\");\r\n";

const char* const kMeta =
    "(meta (types (TUid (d CHAR 12)) (TDate (d DATE)) (TStamp (d TIMESTAMP)) (TMoney (d NUMERIC 15))"
    " (TInt (d INTEGER)) (TBig (d BIGINT)) (TName (d VARCHAR 60)) (TCode (d VARCHAR 10)) (TTitle (d VARCHAR 40))"
    " (TText (d BLOB)))"
    " (tables"
    "  (Operation (fields (Object (type TUid)) (Doc (type Operation)) (Account (type TUid)) (Partner (type TUid))"
    "   (Date (type TDate)) (Entered (type TStamp)) (Sum (type TMoney)) (Qty (type TInt)) (Counter (type TBig))"
    "   (Name (type TName)) (Code (type TCode))))"
    "  (Note (fields (Object (type TUid)) (Title (type TTitle)) (Text (type TText)))))"
    " (generators (Operation)))";

// A small generator of varied values, the same in every run.
struct Random {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  long Below(long n) { return static_cast<long>(Next() % static_cast<uint64_t>(n)); }
};

// An identifier in the dump's escaping: its digit "~" is the escape character.
std::string Id(uint64_t table, uint64_t n) {
  std::string escaped;
  for (char c : qn::EncodeObjectId((table << 48) + n + 1)) escaped += c == '~' ? std::string("~7E") : std::string(1, c);
  return escaped;
}

struct ArchiveShape {
  long operations = 0, notes = 0;
};

// The values an office's tables start with, one row each, in the
// operation's columns after its identifier and date (Doc, Account,
// Partner, Sum, Qty, Counter, Name, Code); "" is a NULL.
struct EdgeRow {
  const char *date, *entered, *sum, *qty, *counter, *name, *code;
};
const EdgeRow kEdgeRows[] = {
    {"1900-01-01", "1900-01-01 00:00:00.0000", "-99999999999.99", "-2147483648", "-9223372036854775808", "", ""},
    {"0999-12-31", "0999-12-31 23:59:59.9990", "99999999999.99", "2147483647", "9223372036854775807",
     "~" /* 60 characters below */, "K123456789"},
    {"0100-03-01", "0100-03-01 12:00:00.0000", "", "", "", "", "~09~7E~A4"},
    {"9999-12-31", "9999-12-31 23:59:59.9999", "0.00", "0", "0", "  ", "   "},
};

ArchiveShape WriteArchive(const std::string& path, long rows, bool office) {
  static const std::vector<std::string> names = {qn::Win1251("Оплата поставщику по счёту"),
                                                 qn::Win1251("Поступление товаров и услуг"),
                                                 qn::Win1251("Реализация продукции"),
                                                 qn::Win1251("Начисление заработной платы"),
                                                 qn::Win1251("Списание материалов в производство"),
                                                 qn::Win1251("Авансовый отчёт")};
  ArchiveShape shape;
  qnbench::ZipWriter zip(path);
  zip.Member("tables.sql", kTables);
  zip.Member("tables_ord.txt", "Operation\r\nNote\r\n");
  zip.Member("ddl.sql", kDdl);
  zip.Member("deactivate.sql", "");
  zip.Member("meta.txt", kMeta);
  qnbench::ChunkedMember data(zip, "data.txt");
  std::string& text = data.text();
  text =
      "#VERSION 0.1.0.0\r\n&Operation\tObject\tDoc\tAccount\tPartner\tDate\tEntered\tSum\tQty\tCounter\tName\tCode\r\n";
  Random random;
  // An office's optional value: NULL, written empty, about every third time.
  auto optional = [&](const std::string& value) { return office && random.Below(3) == 0 ? std::string() : value; };
  const std::string fullName = (names[1] + " " + names[2] + " " + names[0]).substr(0, 60);
  long first = 0;
  if (office) {
    for (const EdgeRow& edge : kEdgeRows) {
      std::string name = edge.name;
      if (name == "~") name = fullName;
      if (first == 3) name = qn::Win1251("Счёт~09№ 17 ~0D~0Aот поставщика   ");
      text += Id(1, first) + "\t" + (first % 2 ? Id(1, 0) : "") + "\t" + (first ? Id(2, first) : "") + "\t\t" +
              edge.date + "\t" + edge.entered + "\t" + edge.sum + "\t" + edge.qty + "\t" + edge.counter + "\t" + name +
              "\t" + edge.code + "\r\n";
      ++first;
    }
  }
  for (long i = first; i < rows; ++i) {
    const long day = random.Below(3650);
    std::string name =
        names[random.Below(static_cast<long>(names.size()))] + " " + std::to_string(random.Below(100000));
    // An office's texts: some with trailing blanks, which the load trims, and escapes.
    if (office && i % 5 == 0) name += i % 10 ? "   " : " ~7E~0D~0A";
    text += Id(1, i) + "\t" + optional(Id(1, i - i % 7)) + "\t" + optional(Id(2, random.Below(300))) + "\t" +
            optional(Id(3, random.Below(5000))) + "\t" +
            qn::Format("%02ld%02ld-%02ld-%02ld", office && i % 97 == 0 ? 19L : 20L, 15 + day / 365, 1 + day % 12,
                       1 + day % 28) +
            "\t" +
            qn::Format("20%02ld-%02ld-%02ld %02ld:%02ld:%02ld.%04ld", 15 + day / 365, 1 + day % 12, 1 + day % 28,
                       random.Below(24), random.Below(60), random.Below(60), random.Below(10000)) +
            "\t" + optional(std::to_string(random.Below(100000000)) + "." + std::to_string(10 + random.Below(90))) +
            "\t" + optional(std::to_string(random.Below(1000))) + "\t" + optional(std::to_string(i * 3 + 1)) + "\t" +
            optional(name) + "\t" + optional("K" + std::to_string(random.Below(10000))) + "\r\n";
    data.Emit();
  }
  shape.operations = rows;
  text += "&Note\tObject\tTitle\tText\r\n";
  static const std::string words = qn::Win1251("Договор поставки согласован с контрагентом") + "~0D~0A";
  for (long i = 0; i < rows / 10; ++i) {
    std::string body;
    for (long n = 1 + random.Below(12); n > 0; --n) body += words + std::to_string(random.Below(1000000)) + " ";
    std::string title = qn::Win1251("Заметка ") + std::to_string(i);
    if (office && i < 2) title = i ? std::string() : std::string(40, 'W');
    text += Id(4, i) + "\t" + optional(title) + "\t" + optional(body) + "\r\n";
    data.Emit();
  }
  shape.notes = rows / 10;
  text += "&Generators\tOperation\r\n" + Id(0, rows * 3) + "\r\n";
  data.Close();
  return shape;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs a command, its output into a file; the seconds from start to exit.
double RunTimed(const std::string& command, const std::string& output) {
  auto start = SteadyClock::now();
  std::string full = "env -u FIREBIRD -u ISC_USER -u ISC_PASSWORD " + command + " >" + Quote(output) + " 2>&1";
  int status = std::system(full.c_str());
  double seconds = Seconds(SteadyClock::now() - start).count();
  if (status != 0) {
    std::ifstream in(output);
    std::stringstream text;
    text << in.rdbuf();
    throw std::runtime_error("failed: " + command + "\n" + text.str());
  }
  return seconds;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The process of the server on 53030 (0 when not found) and the CPU
// seconds it has used, to see which side bounds a restore.
long ServerPid() {
  FILE* pipe = ::popen("ss -ltnpH 'sport = :53030' 2>/dev/null", "r");
  char line[512] = {};
  long pid = 0;
  if (pipe && std::fgets(line, sizeof line, pipe)) {
    const char* at = std::strstr(line, "pid=");
    if (at) pid = std::atol(at + 4);
  }
  if (pipe) ::pclose(pipe);
  return pid;
}

double ProcessCpu(long pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t at = stat.rfind(')');
  if (pid == 0 || at == std::string::npos) return 0;
  std::istringstream fields(stat.substr(at + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i == 14 || i == 15) ticks += std::atof(field.c_str());
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A value of /usr/bin/time -v's report.
std::string TimeField(const std::string& report, const std::string& key) {
  size_t at = report.find(key + ": ");
  if (at == std::string::npos) return "?";
  at += key.size() + 2;
  return report.substr(at, report.find('\n', at) - at);
}

// The ratio of the program's rate to gbak's.
double Bench(const std::string& dir, long rows, bool office) {
  const std::string archive = dir + "/dump.pbz";
  auto start = SteadyClock::now();
  ArchiveShape shape = WriteArchive(archive, rows, office);
  const double archiveBytes = static_cast<double>(std::filesystem::file_size(archive));
  const long managed = shape.operations + shape.notes;
  std::printf(
      "archive (%s rows): %ld operations of 11 columns and %ld text notes, each with its register row;"
      " %.1f MB, %.1f bytes a managed row; written in %.1f s\n",
      office ? "office" : "bench", shape.operations, shape.notes, archiveBytes / 1e6, archiveBytes / managed,
      Seconds(SteadyClock::now() - start).count());

  // A program folder of its own, with one entry on the Firebird 3.0 server.
  const std::string program = dir + "/program", objects = dir + "/objects", database = dir + "/restored.fd3";
  std::filesystem::create_directories(program + "/data");
  std::filesystem::create_directories(objects);
  std::filesystem::copy_file(QN_PROGRAM_PATH, program + "/qndbmgr");
  for (const char* flag : {"ignore-udp.txt", "ignore-tcp.txt"}) std::ofstream(program + "/" + flag) << "";
  std::ofstream(program + "/settings.xml", std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n    <db0000>\r\n"
      << "      <path>localhost/53030:" << database << "</path>\r\n      <user>SYSDBA</user>\r\n"
      << "      <pwd>quillfern</pwd>\r\n      <backup>\r\n        <auto>0</auto>\r\n        <path>" << dir
      << "</path>\r\n      </backup>\r\n    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n"
      << "</settings>\r\n";

  const long server = ServerPid();
  const std::string report = dir + "/restore.txt";
  double serverCpu = ProcessCpu(server);
  const double restoreSeconds = RunTimed(
      "QN_OBJECTS_DIR=" + Quote(objects) + " QN_REGISTRY_DIR=" + Quote(objects + "/registry") + " /usr/bin/time -v " +
          Quote(program + "/qndbmgr") + " --restore=db0000 --from=" + Quote(archive) + " --yes=1 </dev/null",
      report);
  serverCpu = ProcessCpu(server) - serverCpu;
  const std::string usage = ReadFile(report);
  const double peakMb = std::atof(TimeField(usage, "Maximum resident set size (kbytes)").c_str()) / 1024;
  const double cpu = std::atof(TimeField(usage, "User time (seconds)").c_str()) +
                     std::atof(TimeField(usage, "System time (seconds)").c_str());

  const std::string backup = dir + "/restored.fbk", again = dir + "/gbak.fd3";
  const double backupSeconds =
      RunTimed("gbak -b" + std::string(kService) + Quote(database) + " " + Quote(backup), dir + "/gbak-b.txt");
  double gbakCpu = ProcessCpu(server);
  const double gbakSeconds =
      RunTimed("gbak -c" + std::string(kService) + Quote(backup) + " " + Quote(again), dir + "/gbak-c.txt");
  gbakCpu = ProcessCpu(server) - gbakCpu;

  std::printf(
      "program (qndbmgr --restore ... --yes=1): %.2f s, %.0f managed rows/s, peak memory %.1f MB,"
      " program CPU %.2f s, server CPU %.2f s\n",
      restoreSeconds, managed / restoreSeconds, peakMb, cpu, serverCpu);
  std::printf("gbak -b (service) of the result: %.2f s, %.1f MB\n", backupSeconds,
              std::filesystem::file_size(backup) / 1e6);
  std::printf("gbak -c (service): %.2f s, %.0f managed rows/s, server CPU %.2f s\n", gbakSeconds, managed / gbakSeconds,
              gbakCpu);
  std::printf("ratio program/gbak at %ld rows, %s rows: %.2f\n", rows, office ? "office" : "bench",
              gbakSeconds / restoreSeconds);
  std::fflush(stdout);
  return gbakSeconds / restoreSeconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes;
  std::vector<bool> shapes = {false, true};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--shape=bench" || arg == "--shape=office") {
      shapes = {arg == "--shape=office"};
      continue;
    }
    long rows = 0;
    std::from_chars(arg.data(), arg.data() + arg.size(), rows);
    if (rows > 0) sizes.push_back(rows);
  }
  if (sizes.empty()) sizes.push_back(200000);
  ::unsetenv("FIREBIRD");
  int status = 0;
  std::string summary;
  for (long rows : sizes) {
    for (bool office : shapes) {
      // The server writes the databases and the backup itself.
      const std::string dir =
          (std::filesystem::temp_directory_path() / ("qn-restore-bench." + std::to_string(::getpid()) + "." +
                                                     std::to_string(rows) + (office ? ".office" : ".bench")))
              .string();
      std::filesystem::create_directories(dir);
      std::filesystem::permissions(dir, std::filesystem::perms::all);
      try {
        const double ratio = Bench(dir, rows, office);
        summary +=
            qn::Format("ratio program/gbak at %ld rows, %s rows: %.2f\n", rows, office ? "office" : "bench", ratio);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "dump_restore_bench: %s\n", e.what());
        status = 1;
      }
      if (!std::getenv("QN_BENCH_KEEP")) std::filesystem::remove_all(dir);
    }
  }
  std::printf("\n%s", summary.c_str());
  return status;
}
