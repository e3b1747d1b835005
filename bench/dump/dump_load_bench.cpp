// Restore speed of a logical dump's data, run by hand against the Firebird
// 3.0 server on 127.0.0.1:53030 (scripts/firebird-servers.sh start):
//
//   dump_load_bench [rows] [--blocks 1,16,64,...] [--async]   (default 200000 rows)
//
// Writes a ".pbz" archive whose "data.txt" holds the rows, a third each in
// a managed table, an unmanaged one and a managed one with a text blob, and
// loads it with LoadDumpData into a new database. That database is then
// backed up and restored with "gbak -c" through the service manager, and
// the same rows are inserted by the server alone in one EXECUTE BLOCK loop
// per table (no client round trips: the ceiling a client cannot pass).
// Prints rows per second of each, the loader's peak resident memory, and,
// on the last line, the ratio of the loader's rate to gbak's.
//
// With --blocks, the load is repeated for each largest block size given
// (1 sends every row alone), to see where the optimum lies. With --async
// the new databases have forced writes off (gbak -c restores so).
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "backup/zip_stream.h"
#include "bench_zip.h"
#include "base/text.h"
#include "dump/dump_loader.h"
#include "dump/dump_text.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_script.h"
#include "firebird/fb_statement.h"
#include "platform/system.h"

namespace {

using Seconds = std::chrono::duration<double>;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kUser = "SYSDBA";
constexpr const char* kPassword = "quillfern";
constexpr const char* kServer = "localhost/53030";

const char* const kSchema =
    "CREATE TABLE \"tObject\" (\"UID\" CHAR(12) NOT NULL PRIMARY KEY, \"fAge\" INTEGER, \"fCreated\" INTEGER,"
    " \"fChanged\" TIMESTAMP, \"fTable\" VARCHAR(40), \"fState\" CHAR(1), \"fLazy\" INTEGER);\n"
    "CREATE TABLE \"tEntry\" (\"fObject\" CHAR(12) NOT NULL, \"fName\" VARCHAR(60), \"fAmount\" NUMERIC(18,2),"
    " \"fQty\" INTEGER, \"fDate\" DATE, \"fRef\" CHAR(12), \"fNote\" VARCHAR(100));\n"
    "CREATE TABLE \"tEvent\" (\"fObject\" CHAR(12) NOT NULL, \"fAt\" TIMESTAMP, \"fText\" VARCHAR(80),"
    " \"fValue\" DOUBLE PRECISION);\n"
    "CREATE TABLE \"tMemo\" (\"fObject\" CHAR(12) NOT NULL, \"fTitle\" VARCHAR(40), \"fBody\" BLOB SUB_TYPE TEXT);\n";

const char* const kMeta =
    "(meta (types (TUid (d CHAR 12)) (TName (d VARCHAR 60)) (TMoney (d NUMERIC)) (TInt (d INTEGER))"
    " (TDate (d DATE)) (TNote (d VARCHAR 100)) (TStamp (d TIMESTAMP)) (TText (d VARCHAR 80)) (TReal (d DOUBLE))"
    " (TTitle (d VARCHAR 40)) (TBody (d BLOB)))"
    " (tables"
    "  (Entry (fields (Object (type TUid)) (Name (type TName)) (Amount (type TMoney)) (Qty (type TInt))"
    "   (Date (type TDate)) (Ref (type Entry)) (Note (type TNote))))"
    "  (Event (tags unmanaged) (fields (Object (type TUid)) (At (type TStamp)) (Text (type TText)) (Value (type "
    "TReal))))"
    "  (Memo (fields (Object (type TUid)) (Title (type TTitle)) (Body (type TBody)))))"
    " (generators))";

// Identifiers of the three tables do not meet in the register. Their digit
// "~" is the escape character of the dump's values.
std::string Id(int table, long i) {
  std::string id = qn::EncodeObjectId((static_cast<uint64_t>(table) << 40) + i + 1), escaped;
  for (char c : id) escaped += c == '~' ? std::string("~7E") : std::string(1, c);
  return escaped;
}

std::string Date(long i) { return qn::Format("20%02ld-%02ld-%02ld", 10 + i % 15, 1 + i % 12, 1 + i % 28); }

// A text of the given length in the dump's escaping (tabs, line ends and
// the escape character are written as "~" and two hexadecimal digits).
std::string MemoBody(long i, size_t length) {
  static const std::string words = qn::Win1251("Приход товара по накладной ") + "~0D~0A";
  std::string body;
  while (body.size() < length) body += words + std::to_string(i) + " ";
  return body;
}

// Writes the archive, data.txt in pieces so that the bench stays small too.
void WriteArchive(const std::string& path, long rows) {
  qnbench::ZipWriter zip(path);
  zip.Member("tables.sql", kSchema);
  zip.Member("tables_ord.txt", "");
  zip.Member("ddl.sql", "");
  zip.Member("deactivate.sql", "");
  zip.Member("meta.txt", kMeta);
  qnbench::ChunkedMember data(zip, "data.txt");
  std::string& chunk = data.text();
  chunk = "#VERSION 0.1.0.0\r\n";
  auto emit = [&](bool force) { data.Emit(force); };
  const long third = rows / 3;
  chunk += "&Entry\tObject\tName\tAmount\tQty\tDate\tRef\tNote\r\n";
  for (long i = 0; i < third; ++i) {
    chunk += Id(1, i) + "\t" + qn::Win1251("Товар ") + std::to_string(i) + "\t" + std::to_string(i * 37 % 1000000) +
             "." + std::to_string(10 + i % 90) + "\t" + std::to_string(i % 500) + "\t" + Date(i) + "\t" + Id(1, i / 2) +
             "\t" + qn::Win1251("примечание к строке ") + std::to_string(i) + "\r\n";
    emit(false);
  }
  chunk += "&Event\tObject\tAt\tText\tValue\r\n";
  for (long i = 0; i < third; ++i) {
    chunk += Id(2, i) + "\t" + Date(i) +
             qn::Format(" %02ld:%02ld:%02ld.%04ld", i % 24, i % 60, (i / 7) % 60, i % 10000) + "\t" +
             qn::Win1251("событие ") + std::to_string(i) + "\t" + std::to_string(i % 1000) + ".25\r\n";
    emit(false);
  }
  chunk += "&Memo\tObject\tTitle\tBody\r\n";
  for (long i = 0; i < rows - 2 * third; ++i) {
    // One body in 200 is longer than a block takes inline.
    size_t length = i % 200 == 7 ? 4000 : 40 + static_cast<size_t>(i * 7919 % 560);
    chunk += Id(3, i) + "\t" + qn::Win1251("Записка ") + std::to_string(i) + "\t" + MemoBody(i, length) + "\r\n";
    emit(false);
  }
  data.Close();
}

std::string ReadProcStatus(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return qn::TrimBlanks(line.substr(std::string(key).size()));
  return "?";
}

// Lets the peak resident memory start again from the current one.
void ResetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

// Forced writes off (--async): what synchronous page writes cost.
bool g_async = false;

double RunTimed(const std::string& command);

std::unique_ptr<qn::TqnFbConnection> NewDatabase(const std::string& file) {
  auto connection = std::make_unique<qn::TqnFbConnection>();
  connection->SetDatabaseName(std::string(kServer) + ":" + file);
  connection->SetUserName(kUser);
  connection->SetPassword(kPassword);
  connection->CreateDatabase();
  qn::RunScript(*connection, connection->DefaultTransaction(), kSchema);
  connection->DefaultTransaction().Commit();
  if (g_async) {
    connection->Detach();
    RunTimed(std::string("gfix -write async -user ") + kUser + " -pas " + kPassword + " " + kServer + ":" + file);
    connection->Attach();
  }
  return connection;
}

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct LoadResult {
  double seconds = 0, cpu = 0;
  std::string peak;
  qn::TqnDumpLoadStats stats;
};

LoadResult Load(const std::string& archive, const std::string& file, int maxBlockRows) {
  auto connection = NewDatabase(file);
  qn::platform::SystemClock clock;
  qn::TqnDumpLoadOptions options;
  options.maxBlockRows = maxBlockRows;
  LoadResult result;
  options.stats = &result.stats;
  ResetPeakMemory();
  auto start = SteadyClock::now();
  double cpu = CpuSeconds();
  qn::LoadDumpData([&] { return std::make_unique<qn::UclsZipStream>(archive, "data.txt"); }, *connection, kMeta, [] {},
                   true, clock, options);
  result.seconds = Seconds(SteadyClock::now() - start).count();
  result.cpu = CpuSeconds() - cpu;
  result.peak = ReadProcStatus("VmHWM:");
  connection->Detach();
  return result;
}

double RunTimed(const std::string& command) {
  auto start = SteadyClock::now();
  std::string full = "env -u FIREBIRD -u ISC_USER -u ISC_PASSWORD " + command + " >/dev/null";
  if (std::system(full.c_str()) != 0) throw std::runtime_error("failed: " + command);
  return Seconds(SteadyClock::now() - start).count();
}

// The same rows inserted by the server alone: one EXECUTE BLOCK loop per
// table, into a database with forced writes off.
double ServerCeiling(const std::string& file, long rows) {
  // Forced writes off, as the loader and gbak -c load.
  bool async = g_async;
  g_async = true;
  auto connection = NewDatabase(file);
  g_async = async;
  const long third = rows / 3;
  const std::string loop = "execute block as declare i integer = 0; declare id char(12); begin while (i < ";
  const std::string reg =
      "insert into \"tObject\" (\"UID\", \"fAge\", \"fCreated\", \"fChanged\", \"fTable\", \"fState\", \"fLazy\")"
      " values (:id, 0, 0, '2026-12-08 10:00:00.0000', ";
  const std::string statements[] = {
      loop + std::to_string(third) +
          ") do begin id = 'E' || lpad(i, 11, '0');"
          " insert into \"tEntry\" values (:id, 'Товар ' || :i, :i * 1.25, mod(:i, 500),"
          " dateadd(mod(:i, 3000) day to date '2015-01-01'), :id, 'примечание к строке ' || :i);" +
          reg + "'Entry', 'E', 0); i = i + 1; end end",
      loop + std::to_string(third) +
          ") do begin id = 'V' || lpad(i, 11, '0');"
          " insert into \"tEvent\" values (:id, dateadd(:i second to timestamp '2015-01-01 00:00:00'),"
          " 'событие ' || :i, :i * 0.25); i = i + 1; end end",
      loop + std::to_string(rows - 2 * third) +
          ") do begin id = 'M' || lpad(i, 11, '0');"
          " insert into \"tMemo\" values (:id, 'Записка ' || :i,"
          " rpad('Приход товара по накладной ', 40 + mod(:i * 7919, 560), 'x'));" +
          reg + "'Memo', 'E', 0); i = i + 1; end end",
  };
  auto start = SteadyClock::now();
  for (const std::string& sql : statements) {
    qn::TqnFbStatement statement(*connection);
    statement.SetParamCheck(false);
    statement.Execute(qn::Win1251(sql));
  }
  connection->DefaultTransaction().Commit();
  double seconds = Seconds(SteadyClock::now() - start).count();
  connection->Detach();
  return seconds;
}

std::vector<int> ParseList(const std::string& text) {
  std::vector<int> values;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    int value = 0;
    std::from_chars(item.data(), item.data() + item.size(), value);
    values.push_back(value);
  }
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 200000;
  std::vector<int> sweep;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--blocks" && i + 1 < argc)
      sweep = ParseList(argv[++i]);
    else if (arg == "--async")
      g_async = true;
    else
      std::from_chars(arg.data(), arg.data() + arg.size(), rows);
  }
  ::unsetenv("FIREBIRD");
  // The server writes the databases and the backup itself.
  std::string dir = (std::filesystem::temp_directory_path() / ("qn-dump-bench." + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(dir);
  std::filesystem::permissions(dir, std::filesystem::perms::all);
  try {
    const std::string archive = dir + "/bench.pbz";
    auto start = SteadyClock::now();
    WriteArchive(archive, rows);
    std::printf("archive: %ld rows, %.1f MB, written in %.1f s\n", rows, std::filesystem::file_size(archive) / 1e6,
                Seconds(SteadyClock::now() - start).count());

    for (size_t k = 0; k < sweep.size(); ++k) {
      std::string file = dir + "/sweep" + std::to_string(k) + ".fd3";
      LoadResult r = Load(archive, file, sweep[k]);
      std::printf("blocks of at most %3d rows: %8.0f rows/s  (%ld blocks, %ld rows alone, client CPU %.0f %%)\n",
                  sweep[k], rows / r.seconds, r.stats.blocks, r.stats.aloneRows, 100 * r.cpu / r.seconds);
      std::filesystem::remove(file);
    }
    if (!sweep.empty()) return 0;

    const std::string loaded = dir + "/loaded.fd3";
    LoadResult load = Load(archive, loaded, qn::TqnDumpLoadOptions{}.maxBlockRows);
    double program = rows / load.seconds;
    std::printf("program (LoadDumpData): %.2f s, %.0f rows/s; %ld blocks, %ld rows in blocks, %ld rows alone\n",
                load.seconds, program, load.stats.blocks, load.stats.blockRows, load.stats.aloneRows);
    std::printf("program peak resident memory during the load: %s; client CPU %.2f s (%.0f %% of the load)\n",
                load.peak.c_str(), load.cpu, 100 * load.cpu / load.seconds);

    const std::string service = std::string(" -se ") + kServer + ":service_mgr -user " + kUser + " -pas " + kPassword;
    const std::string backup = dir + "/loaded.fbk", restored = dir + "/restored.fd3";
    double backupSeconds = RunTimed("gbak -b" + service + " " + loaded + " " + backup);
    double gbakSeconds = RunTimed("gbak -c" + service + " " + backup + " " + restored);
    double gbak = rows / gbakSeconds;
    std::printf("gbak -b (service): %.2f s\n", backupSeconds);
    std::printf("gbak -c (service): %.2f s, %.0f rows/s\n", gbakSeconds, gbak);

    double ceilingSeconds = ServerCeiling(dir + "/ceiling.fd3", rows);
    std::printf("server alone (EXECUTE BLOCK loops): %.2f s, %.0f rows/s\n", ceilingSeconds, rows / ceilingSeconds);
    std::printf("ratio program/gbak: %.2f\n", program / gbak);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dump_load_bench: %s\n", e.what());
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::filesystem::remove_all(dir);
  return 0;
}
