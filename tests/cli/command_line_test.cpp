// The administrator's command line, end to end: the real program copied into
// a program folder of its own, the real Firebird servers, with and without
// a running instance of the program.
#include <grp.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <fstream>

#include "backup/dump_archive.h"
#include "base/text.h"
#include "cli/service_view.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_test_support.h"
#include "ipc/channel.h"
#include "platform/named_objects.h"
#include "test_support/child_process.h"
#include "test_support/program_process.h"

namespace qn {
namespace {

// The last line of standard error is the failure's message (progress lines
// may come before it).
bool EndsWith(const std::string& text, const std::string& tail) {
  const std::string line = tail.substr(1);
  return text == line ||
         (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0);
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

struct Outcome {
  int code = -1;
  std::string out;  // standard output, UTF-8
  std::string err;  // standard error
};

class CommandLine : public fbtest::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exe_ = InstallProgram(QN_PROGRAM_PATH, program_.path());
    for (const char* flag : {"ignore-udp.txt", "ignore-tcp.txt", "debug.txt"}) std::ofstream(program_.File(flag)) << "";
    platform::ForceDirectories(program_.File("data"));
    platform::ForceDirectories(dir_.File("bk"));
    database_ = fbtest::Fb30Path(dir_.File("main.fd3"));
    TqnFbConnection c;
    c.SetDatabaseName(database_);
    c.CreateDatabase();
    c.DefaultTransaction().Commit();
    std::string out;
    ASSERT_EQ(fbtest::RunIsql("create table t (x integer); commit; insert into t values (7); commit;", out, database_,
                              fbtest::kUser, fbtest::kPassword),
              0)
        << out;
    // db0001 is an entry of the older server in the program's data folder:
    // a logical dump moves it to the Firebird 3.0 server.
    classicPath_ = "localhost:" + program_.File("data/tx.fdb");
    std::ofstream(program_.File("settings.xml"), std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n"
        << Entry("db0000", database_, Win1251("Главная"), "0") << Entry("db0001", classicPath_, "", "1")
        << "  </data>\r\n  <data_state>initialized</data_state>\r\n"
        << "  <status>\r\n    <textfile>" << dir_.File("qndbmgr.prom")
        << "</textfile>\r\n  </status>\r\n</settings>\r\n";
    ziptest::WriteZip(dir_.File("dump.pbz"),
                      ziptest::DumpMembers(ziptest::kDdl, "deactivate", "&Person\tObject\tName\n00000000000A\tX\n"));
    std::ofstream(dir_.File("bad.pbz")) << "not a zip archive";
  }

  std::string Entry(const std::string& key, const std::string& path, const std::string& caption,
                    const std::string& autoBackup) {
    return "    <" + key + ">\r\n      <path>" + path + "</path>\r\n      <user>SYSDBA</user>\r\n" +
           "      <pwd>quillfern</pwd>\r\n      <caption>" + caption + "</caption>\r\n      <backup>\r\n" +
           "        <auto>" + autoBackup + "</auto>\r\n        <path>" + dir_.File("bk") + "</path>\r\n" +
           "      </backup>\r\n    </" + key + ">\r\n";
  }

  std::vector<std::string> Env() const {
    return {"QN_OBJECTS_DIR=" + objects_.path(), "QN_REGISTRY_DIR=" + objects_.path() + "/registry"};
  }

  // Runs the program in the test's folder or a folder in it (relative file
  // names are read there), without a terminal.
  Outcome Run(const std::string& args, const std::string& folder = "", const std::string& as = "") const {
    static std::atomic<int> counter{0};
    const std::string err = dir_.File("stderr" + std::to_string(++counter));
    std::string command =
        "cd " + fbtest::ShellQuote(folder.empty() ? dir_.path() : dir_.File(folder)) + " && " + as + " env";
    for (const std::string& e : Env()) command += " " + fbtest::ShellQuote(e);
    command += " " + fbtest::ShellQuote(exe_) + " " + args + " </dev/null 2>" + fbtest::ShellQuote(err);
    Outcome o;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t got; pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) o.out.append(buffer, got);
    const int status = pipe ? ::pclose(pipe) : -1;
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.err = ReadAll(err);
    return o;
  }

  std::string Query(const std::string& database, const std::string& sql) const {
    std::string out;
    fbtest::RunIsql(sql, out, database, fbtest::kUser, fbtest::kPassword);
    return out;
  }

  std::string ListLine(const std::string& number, const std::string& key, const std::string& caption,
                       const std::string& path, const char* autoBackup) const {
    return number + "\t" + key + "\t" + caption + "\t" + path + "\t" + dir_.File("bk") + "\t" + autoBackup + "\n";
  }

  // The starts (R) and ends (C) of the backups in the server's verbose
  // output, in the order they came: "RCRC" for two that did not overlap.
  std::string BackupOrder() const {
    std::string verbose;
    for (const auto& name : TempDir::ListDir(program_.File("log")))
      if (name.rfind("log-backup-", 0) == 0) verbose += ReadAll(program_.File("log/" + name));
    std::string order;
    for (size_t at = 0; (at = verbose.find("gbak:", at)) != std::string::npos; ++at) {
      if (verbose.compare(at, 20, "gbak:readied databas") == 0) order += "R";
      if (verbose.compare(at, 17, "gbak:closing file") == 0) order += "C";
    }
    return order;
  }

  // The backup folder's files but its catalogue.
  std::vector<std::string> BackupFiles() const {
    std::vector<std::string> files = TempDir::ListDir(dir_.File("bk"));
    files.erase(std::remove(files.begin(), files.end(), "catalogue.txt"), files.end());
    return files;
  }

  std::string MovedPath() const { return "localhost/53030:" + program_.File("data/tx.fd3"); }

  // The restore of the dump onto db0001 re-pointed the entry, saved it, and
  // filled the new database.
  void ExpectMovedEntry() const {
    EXPECT_NE(ReadAll(program_.File("settings.xml")).find("<path>" + MovedPath() + "</path>"), std::string::npos);
    EXPECT_NE(Query(MovedPath(), "select \"fName\" from \"tPerson\";").find("\nX"), std::string::npos);
  }

  TempDir program_, objects_;
  std::string exe_, database_, classicPath_;
};

TEST_F(CommandLine, WithoutAnInstanceEachCommandRunsInAShortLivedOneAndTwoAtOnceTakeTurns) {
  const Outcome help = Run("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--restore=KEY --from=FILE"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("разархивация базы KEY"), std::string::npos) << help.out;

  const Outcome list = Run("--list");
  EXPECT_EQ(list.code, 0) << list.out;
  EXPECT_EQ(list.out,
            ListLine("0", "db0000", "Главная", database_, "off") + ListLine("1", "db0001", "", classicPath_, "on"));

  // Two backups at once: one into the backup folder under its default name,
  // one into a file named relative to the caller's folder, a Russian one.
  std::filesystem::create_directory(dir_.File("Архив"));
  auto first = std::async(std::launch::async, [&] { return Run("--backup=db0000"); });
  const Outcome second = Run("--backup=0 --to=копия.bk3", "Архив");
  const Outcome one = first.get();
  EXPECT_EQ(one.code, 0) << one.out << one.err;
  EXPECT_EQ(second.code, 0) << second.out << second.err;
  EXPECT_NE(second.out.find("Архивация базы данных db0000 завершена, файл \"" + dir_.File("Архив/копия.bk3") + "\""),
            std::string::npos)
      << second.out;
  const std::vector<std::string> inFolder = BackupFiles();
  ASSERT_EQ(inFolder.size(), 1u);
  EXPECT_EQ(inFolder[0].rfind("backup-", 0), 0u);
  EXPECT_EQ(inFolder[0].substr(inFolder[0].size() - 4), ".bk3");
  EXPECT_EQ(BackupOrder(), "RCRC") << "the two ran one after the other";

  // gbak itself restores the backup.
  std::string out;
  const std::string copy = fbtest::Fb30Path(dir_.File("copy.fd3"));
  ASSERT_EQ(
      fbtest::RunCommand(
          "env -u FIREBIRD gbak -c -user SYSDBA -password quillfern " + dir_.File("Архив/копия.bk3") + " " + copy, out),
      0)
      << out;
  EXPECT_NE(Query(copy, "select x from t;").find(" 7"), std::string::npos);

  // The backup restored in place: the current file goes to "prev" first.
  ASSERT_EQ(fbtest::RunIsql("delete from t; commit;", out, database_, fbtest::kUser, fbtest::kPassword), 0) << out;
  const Outcome restore = Run("--restore=db0000 --from=копия.bk3 --yes=1", "Архив");
  EXPECT_EQ(restore.code, 0) << restore.out << restore.err;
  EXPECT_NE(Query(database_, "select x from t;").find(" 7"), std::string::npos);
  EXPECT_EQ(TempDir::ListDir(dir_.File("prev")).size(), 1u);

  const Outcome dump = Run("--restore=db0001 --from=dump.pbz --yes=1");
  EXPECT_EQ(dump.code, 0) << dump.out << dump.err;
  EXPECT_EQ(dump.out, "Разархивация базы данных db0001 завершена, путь \"" + MovedPath() + "\"\n");
  ExpectMovedEntry();
}

TEST_F(CommandLine, ARunningInstanceRunsTheHandedOverCommandsAndKeepsItsRegister) {
  ProgramProcess instance(exe_, {"--headless=1"}, Env());
  ASSERT_TRUE(instance.Started());
  ASSERT_TRUE(WaitForLog(program_, "hostname is ")) << MainLog(program_);

  // Two at once: the instance runs one after the other.
  auto first = std::async(std::launch::async, [&] { return Run("--backup=db0000"); });
  const Outcome backup = Run("--backup=db0000 --to=copy.bk3");
  EXPECT_EQ(first.get().code, 0);
  EXPECT_EQ(backup.code, 0) << backup.out << backup.err;
  ASSERT_TRUE(platform::FileExists(dir_.File("copy.bk3")));
  EXPECT_EQ(BackupFiles().size(), 1u);
  EXPECT_EQ(BackupOrder(), "RCRC");
  EXPECT_TRUE(WaitForLog(program_, " intercom command-line\r\n", 1000)) << "the instance ran them";

  // Without a terminal the restore question cannot be asked: refused.
  const Outcome unasked = Run("--restore=db0000 --from=copy.bk3");
  EXPECT_EQ(unasked.code, 1);
  EXPECT_EQ(unasked.out, "");
  EXPECT_EQ(unasked.err, "Разархивация отменена: нет терминала для подтверждения, укажите --yes=1\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("prev")));

  std::string out;
  ASSERT_EQ(fbtest::RunIsql("delete from t; commit;", out, database_, fbtest::kUser, fbtest::kPassword), 0) << out;
  const Outcome restore = Run("--restore=0 --from=copy.bk3 --yes=1");
  EXPECT_EQ(restore.code, 0) << restore.out << restore.err;
  EXPECT_NE(Query(database_, "select x from t;").find(" 7"), std::string::npos);

  // A backup file that is not there: the message on standard error only.
  const Outcome missing = Run("--restore=db0000 --from=missing.bk3 --yes=1");
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_TRUE(EndsWith(missing.err, "\nФайл \"" + dir_.File("missing.bk3") + "\" не найден\n")) << missing.err;

  // A file that is no archive: the message, and nothing changed.
  const std::string settings = ReadAll(program_.File("settings.xml"));
  const size_t moved = TempDir::ListDir(dir_.File("prev")).size();
  const Outcome bad = Run("--restore=db0001 --from=bad.pbz --yes=1");
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_TRUE(EndsWith(bad.err, "\nФормат резервной копии не поддерживается\n")) << bad.err;
  EXPECT_EQ(ReadAll(program_.File("settings.xml")), settings);
  EXPECT_EQ(TempDir::ListDir(dir_.File("prev")).size(), moved);
  EXPECT_FALSE(platform::FileExists(program_.File("data/tx.fd3")));
  // The 1.5-to-2.5 conversion is for the older server's databases: refused
  // for a Firebird 3.0 one before anything is moved.
  const Outcome convert = Run("--restore=db0000 --from=copy.bk3 --fix-charset=1 --yes=1");
  EXPECT_EQ(convert.code, 1);
  EXPECT_EQ(convert.out, "");
  EXPECT_TRUE(
      EndsWith(convert.err, "\nКонвертация версии 1.5 для 2.5 возможна только для базы данных сервера версии 2.5\n"))
      << convert.err;
  EXPECT_EQ(TempDir::ListDir(dir_.File("prev")).size(), moved);

  const Outcome dump = Run("--restore=db0001 --from=dump.pbz --yes=1");
  EXPECT_EQ(dump.code, 0) << dump.out << dump.err;
  ExpectMovedEntry();
  // The running instance's register holds the new path.
  const Outcome list = Run("--list");
  EXPECT_EQ(list.out,
            ListLine("0", "db0000", "Главная", database_, "off") + ListLine("1", "db0001", "", MovedPath(), "on"));

  // A plain second start still only hands over "activate".
  ProgramProcess second(exe_, {"--headless=1"}, Env());
  EXPECT_EQ(second.Wait(10000), 0);
  EXPECT_TRUE(WaitForLog(program_, " intercom activate\r\n", 5000));
  instance.Signal(SIGTERM);
  EXPECT_EQ(instance.Wait(20000), 0);
  EXPECT_NE(ReadAll(program_.File("settings.xml")).find("<path>" + MovedPath() + "</path>"), std::string::npos);
}

// A register whose list does not fit one record: the running instance runs
// --list once and the rest of its one answer comes in pieces.
TEST_F(CommandLine, ALongListComesInPiecesOfTheOneRun) {
  std::string entries, expected;
  for (int i = 0; i < 40; ++i) {
    const std::string key = "db" + std::string(i < 10 ? "000" : "00") + std::to_string(i);
    const std::string caption = "Филиал " + std::to_string(i) + " — бухгалтерия и склад";
    entries += Entry(key, database_, Win1251(caption), "0");
    expected += ListLine(std::to_string(i), key, caption, database_, "off");
  }
  std::ofstream(program_.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n"
      << entries << "  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
  ASSERT_GT(Win1251(expected).size(), 2u * 1818u) << "three records at least";
  ProgramProcess instance(exe_, {"--headless=1"}, Env());
  ASSERT_TRUE(instance.Started());
  ASSERT_TRUE(WaitForLog(program_, "hostname is ")) << MainLog(program_);

  const Outcome list = Run("--list");
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out, expected);
  const std::string log = MainLog(program_);
  EXPECT_EQ(Occurrences(log, " intercom command-line\r\n"), 1u) << log;
  EXPECT_GE(Occurrences(log, " intercom command-page\r\n"), 2u) << log;
  instance.Signal(SIGTERM);
  EXPECT_EQ(instance.Wait(20000), 0);
}

// A start that comes while a short-lived instance runs a command waits for
// it to end and then starts as the instance. The command instance is held in
// its work by holding the log's mutex meanwhile.
TEST_F(CommandLine, AStartDuringACommandInstanceWaitsAndThenRuns) {
  ::setenv("QN_OBJECTS_DIR", objects_.path().c_str(), 1);
  auto logLock = platform::NamedMutex::Create("RU.QUORVEN.RAZAD.LOGSYNC", true);
  auto backup = std::async(std::launch::async, [&] { return Run("--backup=db0000"); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ListIpcInstances("RU.QUORVEN.RAZAD.INTERCOM").empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_FALSE(ListIpcInstances("RU.QUORVEN.RAZAD.INTERCOM").empty()) << "no command instance came up";
  ProgramProcess start(exe_, {"--headless=1"}, Env());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  logLock->Release();
  logLock.reset();
  ::unsetenv("QN_OBJECTS_DIR");
  const Outcome done = backup.get();
  EXPECT_EQ(done.code, 0) << done.out << done.err;
  EXPECT_EQ(start.Wait(0), -1) << "the start ended instead of waiting";
  EXPECT_TRUE(WaitForLog(program_, "hostname is ")) << MainLog(program_);
  const Outcome list = Run("--list");
  EXPECT_EQ(list.code, 0);
  EXPECT_TRUE(WaitForLog(program_, " intercom command-line\r\n", 5000)) << "the started program took the command";
  start.Signal(SIGTERM);
  EXPECT_EQ(start.Wait(20000), 0);
}

// The system's service instance: an administrator's commands reach it, a
// plain start beside it only says so, and a user who may not reach it is
// told whom to ask instead of getting an instance of its own.
TEST_F(CommandLine, TheServiceInstanceTakesTheCommandsAndNoOtherInstanceRunsBesideIt) {
  ProgramProcess service(exe_, {"--headless=1", "--service=1"}, Env());
  ASSERT_TRUE(service.Started());
  ASSERT_TRUE(WaitForLog(program_, "hostname is ")) << MainLog(program_);

  const Outcome list = Run("--list");
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out,
            ListLine("0", "db0000", "Главная", database_, "off") + ListLine("1", "db0001", "", classicPath_, "on"));
  EXPECT_TRUE(WaitForLog(program_, " intercom command-line\r\n", 5000)) << MainLog(program_);

  // Monitoring reads the service's own state, answered by the service: an
  // entry that backs up automatically and has never been backed up is stale.
  const auto commandsTaken = [&] { return Occurrences(MainLog(program_), " intercom command-line\r\n"); };
  const size_t before = commandsTaken();
  const Outcome status = Run("--status");
  EXPECT_EQ(status.code, 1) << status.out << status.err;
  EXPECT_NE(status.out.find("db0001\t\t-\tstale"), std::string::npos) << status.out;
  EXPECT_EQ(commandsTaken(), before + 1) << "--status was not answered by the service";
  // The plugin's form travels to the service and comes back as the plugin's.
  const Outcome nagios = Run("--status --nagios");
  EXPECT_EQ(nagios.code, 1) << nagios.out << nagios.err;
  EXPECT_EQ(nagios.out.compare(0, 38, "BACKUP WARNING - stale: db0001 | 'db00"), 0) << nagios.out;
  EXPECT_EQ(commandsTaken(), before + 2) << "--status --nagios was not answered by the service";

  const Outcome start = Run("--headless=1");
  EXPECT_EQ(start.code, 0);
  EXPECT_NE(start.err.find("обслуживает служба qndbmgr"), std::string::npos) << start.err;
  EXPECT_NE(start.err.find("0 db0000 Главная " + database_), std::string::npos) << "the service's register\n"
                                                                                << start.err;
  const std::string log = MainLog(program_);
  EXPECT_EQ(log.find("hostname is "), log.rfind("hostname is ")) << "a second instance started\n" << log;

  if (::getuid() == 0) {
    // The user nobody, in no group of the service's.
    for (const std::string& d : {dir_.path(), program_.path(), objects_.path()}) ::chmod(d.c_str(), 0755);
    const Outcome refused = Run("--list", "", "setpriv --reuid=65534 --regid=65534 --clear-groups");
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("члены группы qndbmgr"), std::string::npos) << refused.err;
    const Outcome unknown = Run("--status", "", "setpriv --reuid=65534 --regid=65534 --clear-groups");
    EXPECT_EQ(unknown.code, 3) << "a state it cannot reach is not a state it knows\n" << unknown.out;
  }
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(20000), 0);
}

// A desktop program beside the service shows the service's register and
// state, asked through its channel, and hands backup and restore to it.
TEST_F(CommandLine, TheServiceViewShowsTheServicesRegisterAndHandsItBackupAndRestore) {
  ProgramProcess service(exe_, {"--headless=1", "--service=1"}, Env());
  ASSERT_TRUE(service.Started());
  ASSERT_TRUE(WaitForLog(program_, "hostname is ")) << MainLog(program_);

  // The program started on a desktop stays up with the service's window,
  // which asks the service (--list, --status); no instance of its own.
  std::vector<std::string> desktop = Env();
  desktop.push_back("QT_QPA_PLATFORM=offscreen");
  ProgramProcess window(exe_, {}, desktop);
  const auto asked = [&] {
    const std::string text = MainLog(program_), what = " intercom command-line\r\n";
    return text.find(what) != std::string::npos && text.find(what) != text.rfind(what);
  };
  for (int i = 0; i < 100 && !asked(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(asked()) << MainLog(program_);
  EXPECT_EQ(window.Wait(0), -1) << "the window did not stay";
  window.Signal(SIGKILL);
  window.Wait(5000);
  const std::string log = MainLog(program_);
  EXPECT_EQ(log.find("hostname is "), log.rfind("hostname is ")) << "a second instance started\n" << log;

  for (const std::string& e : Env()) {
    const size_t eq = e.find('=');
    ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
  }

  TqnServiceView view;
  ASSERT_TRUE(view.Refresh()) << view.Error();
  ASSERT_EQ(view.Rows().size(), 2u);
  const TqnServiceRow& main = view.Rows()[0];
  EXPECT_EQ(main.key + "|" + main.caption + "|" + main.path + "|" + main.backupFolder,
            "db0000|" + Win1251("Главная") + "|" + database_ + "|" + dir_.File("bk"));
  EXPECT_FALSE(main.autoBackup);
  EXPECT_EQ(main.state, "");
  const TqnServiceRow& second = view.Rows()[1];
  EXPECT_TRUE(second.autoBackup);
  EXPECT_EQ(second.state + "|" + second.lastVerified, "stale|");
  ASSERT_EQ(view.Notices().size(), 1u);
  EXPECT_NE(view.Notices()[0].find("\"JD_LW4\""), std::string::npos) << view.Notices()[0];

  const std::string file = dir_.File("bk/from-view.bk3");
  const TqnCommandResult backup = TqnServiceView::Backup("db0000", file);
  ASSERT_TRUE(backup.ok) << Win1251ToUtf8(backup.text);
  EXPECT_NE(ReadAll(dir_.File("bk/catalogue.txt")).find("from-view.bk3"), std::string::npos)
      << "the service's catalogue";
  EXPECT_NE(MainLog(program_).find(Win1251("Архивация базы данных \"") + database_), std::string::npos);

  Query(database_, "insert into t values (8); commit;");
  const TqnCommandResult restore = TqnServiceView::Restore("db0000", file, false);
  EXPECT_TRUE(restore.ok) << Win1251ToUtf8(restore.text);
  const std::string rows = Query(database_, "select x from t;");
  EXPECT_TRUE(rows.find("7") != std::string::npos && rows.find("8") == std::string::npos) << rows;

  const TqnCommandResult unknown = TqnServiceView::Backup("db0042");
  EXPECT_FALSE(unknown.ok) << "a failure is not a success";
  for (const std::string& e : Env()) ::unsetenv(e.substr(0, e.find('=')).c_str());
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(20000), 0);
}

// What monitoring and an administrator ask: every backup proven, a changed
// byte caught, the state in exit codes.
TEST_F(CommandLine, BackupsAreProvenAChangedByteFailsVerifyAndStatusTellsMonitoring) {
  const Outcome stale = Run("--status");
  EXPECT_EQ(stale.code, 1) << "db0001 backs up automatically and has no verified backup:\n" << stale.out;
  EXPECT_NE(stale.out.find("db0001\t\t-\tstale"), std::string::npos) << stale.out;
  EXPECT_NE(stale.out.find("\"JD_LW4\""), std::string::npos) << "the well-known packet key is named\n" << stale.out;

  const Outcome backup = Run("--backup=db0000 --to=" + dir_.File("bk/one.bk3"));
  ASSERT_EQ(backup.code, 0) << backup.out << backup.err;
  EXPECT_NE(backup.out.find("проверена восстановлением"), std::string::npos) << backup.out;
  const Outcome verify = Run("--verify=db0000");
  EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
  const Outcome listed = Run("--backups=db0000");
  EXPECT_NE(listed.out.find(dir_.File("bk/one.bk3") + "\t"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("\tok\tverified\t"), std::string::npos) << listed.out;

  std::string bytes = ReadAll(dir_.File("bk/one.bk3"));
  bytes[bytes.size() / 2] ^= 0x20;
  std::ofstream(dir_.File("bk/one.bk3"), std::ios::binary | std::ios::trunc) << bytes;
  const Outcome changed = Run("--verify=db0000 --from=" + dir_.File("bk/one.bk3"));
  EXPECT_EQ(changed.code, 1) << changed.out;
  EXPECT_NE(changed.err.find("SHA-256"), std::string::npos) << changed.err;
  EXPECT_NE(Query(database_, "select x from t;").find("7"), std::string::npos) << "the live database is untouched";

  // db0001's database file is not there: its backup fails, and that is worse than stale.
  EXPECT_EQ(Run("--backup=db0001").code, 1);
  const Outcome failed = Run("--status --json");
  EXPECT_EQ(failed.code, 2) << failed.out;
  EXPECT_NE(failed.out.find("\"key\":\"db0001\""), std::string::npos) << failed.out;
  EXPECT_NE(failed.out.find("\"state\":\"failed\""), std::string::npos) << failed.out;

  // The same state for monitoring systems: the textfile the short-lived
  // instance rewrote after the failure, the plugin's line, the discovery.
  const std::string textfile = ReadAll(dir_.File("qndbmgr.prom"));
  EXPECT_NE(textfile.find("qndbmgr_backup_state{entry=\"db0001\",caption=\"\",state=\"failed\"} 1\n"),
            std::string::npos)
      << textfile;
  const Outcome nagios = Run("--status --nagios");
  EXPECT_EQ(nagios.code, 2) << nagios.out;
  EXPECT_EQ(nagios.out.compare(0, 36, "BACKUP CRITICAL - failed: db0001 | '"), 0) << nagios.out;
  const Outcome discovery = Run("--status --zabbix-discovery");
  EXPECT_EQ(discovery.out, "[{\"{#ENTRY}\":\"db0001\",\"{#CAPTION}\":\"\"}]\n");
}

}  // namespace

// args: the objects folder, a ready file, then "mutex:NAME" or "event:NAME"
// to make. Runs as the user nobody in the machine-wide folder's group (a
// member of the service's group, as the server's account is) and holds the
// names until it is killed.
QN_CHILD_MODE(squat_names) {
  struct stat folder;
  if (::stat((args[0] + "/.qn-objects-global").c_str(), &folder) != 0) return 10;
  if (::setgroups(0, nullptr) != 0 || ::setgid(folder.st_gid) != 0 || ::setuid(65534) != 0) return 11;
  std::vector<std::unique_ptr<platform::NamedMutex>> mutexes;
  std::vector<std::unique_ptr<platform::NamedEvent>> events;
  try {
    for (size_t i = 2; i < args.size(); ++i) {
      if (args[i].rfind("mutex:", 0) == 0) mutexes.push_back(platform::NamedMutex::Create(args[i].substr(6), true));
      if (args[i].rfind("event:", 0) == 0)
        events.push_back(platform::NamedEvent::Create(args[i].substr(6), true, false));
    }
  } catch (const std::exception&) {
    return 12;
  }
  std::ofstream(args[1], std::ios::app) << "ready";
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// A member of the service's group plants the service's channel names while
// it is stopped. Every slot taken: the start fails for the service manager
// to see, and says who holds the names. One slot's names planted as a fake
// instance: the service neither hands its start to it nor lets commands go
// there.
TEST_F(CommandLine, PlantedServiceNamesNeitherSilenceTheServiceNorPassForIt) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to plant names as another user";
  for (const std::string& d : {dir_.path(), objects_.path()}) ::chmod(d.c_str(), 0755);
  ::setenv("QN_OBJECTS_DIR", objects_.path().c_str(), 1);
  auto folderMaker = platform::NamedMutex::Create("Global\\qn.test.folder", false);
  const std::string channel = TqnApplication::kServiceChannelName;
  const auto squat = [&](const std::vector<std::string>& names, const std::string& ready) {
    std::ofstream(dir_.File(ready)) << "";
    ::chmod(dir_.File(ready).c_str(), 0666);
    std::vector<std::string> args = {objects_.path(), dir_.File(ready)};
    args.insert(args.end(), names.begin(), names.end());
    auto child = std::make_unique<qntest::ChildProcess>("squat_names", args);
    const auto planted = [&] { return std::filesystem::file_size(dir_.File(ready)) > 0; };
    for (int i = 0; i < 200 && !planted(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(planted()) << "the planter did not start: " << child->Wait(0);
    return child;
  };
  {
    std::vector<std::string> all;
    for (int s = 0; s < kIpcMaxSlots; ++s) all.push_back("mutex:" + IpcObjectName(channel, s, "mutex"));
    auto planter = squat(all, "ready-all");
    const Outcome start = Run("--headless=1 --service=1");
    EXPECT_NE(start.code, 0) << "a start that could not serve must not look like a clean stop\n" << start.err;
    EXPECT_NE(start.err.find("(nobody)"), std::string::npos) << start.err;
    EXPECT_NE(MainLog(program_).find("(nobody)"), std::string::npos) << "the day's log says why\n" << MainLog(program_);
  }
  {
    auto planter = squat({"mutex:" + IpcObjectName(channel, 0, "mutex"), "event:" + IpcObjectName(channel, 0, "event")},
                         "ready-one");
    ProgramProcess service(exe_, {"--headless=1", "--service=1"}, Env());
    ASSERT_TRUE(service.Started());
    ASSERT_TRUE(WaitForLog(program_, "hostname is ")) << MainLog(program_);
    EXPECT_EQ(service.Wait(0), -1) << "the start was handed to the planted names";
    const Outcome list = Run("--list");
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("db0000"), std::string::npos) << "the command did not reach the service\n" << list.out;
    service.Signal(SIGTERM);
    EXPECT_EQ(service.Wait(20000), 0);
  }
  ::unsetenv("QN_OBJECTS_DIR");
}

}  // namespace qn

namespace qn {
namespace {

// The short-lived instance of a command-line backup ends after its copies:
// each one's outcome in its output, and a failed one in its exit code.
TEST_F(CommandLine, AShortLivedBackupAnswersAfterItsCopiesWithTheirOutcome) {
  platform::ForceDirectories(dir_.File("nas"));
  platform::ForceDirectories(dir_.File("usb"));
  std::ofstream(program_.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n    <db0000>\r\n"
      << "      <path>" << database_ << "</path>\r\n      <user>SYSDBA</user>\r\n      <pwd>quillfern</pwd>\r\n"
      << "      <backup>\r\n        <path>" << dir_.File("bk") << "</path>\r\n        <copy_to>nas,usb</copy_to>\r\n"
      << "      </backup>\r\n    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n"
      << "  <destinations>\r\n    <d0><name>nas</name><kind>folder</kind><path>" << dir_.File("nas")
      << "</path></d0>\r\n    <d1><name>usb</name><kind>folder</kind><path>" << dir_.File("usb")
      << "</path></d1>\r\n  </destinations>\r\n</settings>\r\n";
  const Outcome init = Run("--init-destination=nas");
  ASSERT_EQ(init.code, 0) << init.out << init.err;
  EXPECT_NE(ReadAll(program_.File("settings.xml")).find("<uid>"), std::string::npos);

  const Outcome backup = Run("--backup=db0000 --to=" + dir_.File("bk/auto-2026.12.09-06.30.00-000.bk3"));
  EXPECT_EQ(backup.code, 1) << backup.out << backup.err;
  const std::string all = backup.out + backup.err;
  EXPECT_NE(all.find("копия в \"nas\" сделана и проверена"), std::string::npos) << all;
  EXPECT_NE(all.find("копия в \"usb\" не сделана"), std::string::npos) << all;
  ASSERT_FALSE(ReadAll(dir_.File("bk/auto-2026.12.09-06.30.00-000.bk3")).empty());
  EXPECT_EQ(ReadAll(dir_.File("nas/db0000-auto-2026.12.09-06.30.00-000.bk3")),
            ReadAll(dir_.File("bk/auto-2026.12.09-06.30.00-000.bk3")));
  EXPECT_TRUE(TempDir::ListDir(dir_.File("usb")).empty());

  const Outcome listed = Run("--backups=db0000");
  EXPECT_NE(listed.out.find("nas:db0000-auto-2026.12.09-06.30.00-000.bk3\t"), std::string::npos) << listed.out;
}

}  // namespace
}  // namespace qn
