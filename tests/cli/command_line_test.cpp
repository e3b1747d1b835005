// The administrator's command line, end to end: the real program copied into
// a program folder of its own, the real Firebird servers, with and without
// a running instance of the program.
#include <atomic>
#include <filesystem>
#include <future>
#include <fstream>

#include "backup/dump_archive.h"
#include "base/text.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_test_support.h"
#include "test_support/program_process.h"

namespace qn {
namespace {

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
        << "  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
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
  Outcome Run(const std::string& args, const std::string& folder = "") const {
    static std::atomic<int> counter{0};
    const std::string err = dir_.File("stderr" + std::to_string(++counter));
    std::string command = "cd " + fbtest::ShellQuote(folder.empty() ? dir_.path() : dir_.File(folder)) + " && env";
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
  EXPECT_EQ(list.out, ListLine("0", "db0000", "Главная", database_, "off") +
                          ListLine("1", "db0001", "", classicPath_, "on"));

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
  ASSERT_EQ(fbtest::RunCommand("env -u FIREBIRD gbak -c -user SYSDBA -password quillfern " + dir_.File("Архив/копия.bk3") +
                                   " " + copy,
                               out),
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
  EXPECT_EQ(unasked.out, "Разархивация отменена: нет терминала для подтверждения, укажите --yes=1\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("prev")));

  std::string out;
  ASSERT_EQ(fbtest::RunIsql("delete from t; commit;", out, database_, fbtest::kUser, fbtest::kPassword), 0) << out;
  const Outcome restore = Run("--restore=0 --from=copy.bk3 --yes=1");
  EXPECT_EQ(restore.code, 0) << restore.out << restore.err;
  EXPECT_NE(Query(database_, "select x from t;").find(" 7"), std::string::npos);

  // A file that is no archive: the message, and nothing changed.
  const std::string settings = ReadAll(program_.File("settings.xml"));
  const size_t moved = TempDir::ListDir(dir_.File("prev")).size();
  const Outcome bad = Run("--restore=db0001 --from=bad.pbz --yes=1");
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(bad.out, "Формат резервной копии не поддерживается\n");
  EXPECT_EQ(ReadAll(program_.File("settings.xml")), settings);
  EXPECT_EQ(TempDir::ListDir(dir_.File("prev")).size(), moved);
  EXPECT_FALSE(platform::FileExists(program_.File("data/tx.fd3")));
  // The 1.5-to-2.5 conversion is for the older server's databases: refused
  // for a Firebird 3.0 one before anything is moved.
  const Outcome convert = Run("--restore=db0000 --from=copy.bk3 --fix-charset=1 --yes=1");
  EXPECT_EQ(convert.code, 1);
  EXPECT_EQ(convert.out, "Конвертация версии 1.5 для 2.5 возможна только для базы данных сервера версии 2.5\n");
  EXPECT_EQ(TempDir::ListDir(dir_.File("prev")).size(), moved);

  const Outcome dump = Run("--restore=db0001 --from=dump.pbz --yes=1");
  EXPECT_EQ(dump.code, 0) << dump.out << dump.err;
  ExpectMovedEntry();
  // The running instance's register holds the new path.
  const Outcome list = Run("--list");
  EXPECT_EQ(list.out, ListLine("0", "db0000", "Главная", database_, "off") +
                          ListLine("1", "db0001", "", MovedPath(), "on"));

  // A plain second start still only hands over "activate".
  ProgramProcess second(exe_, {"--headless=1"}, Env());
  EXPECT_EQ(second.Wait(10000), 0);
  EXPECT_TRUE(WaitForLog(program_, " intercom activate\r\n", 5000));
  instance.Signal(SIGTERM);
  EXPECT_EQ(instance.Wait(20000), 0);
  EXPECT_NE(ReadAll(program_.File("settings.xml")).find("<path>" + MovedPath() + "</path>"), std::string::npos);
}

// What monitoring and an administrator ask: every backup proven, a changed
// byte caught, the state in exit codes.
TEST_F(CommandLine, BackupsAreProvenAChangedByteFailsVerifyAndStatusTellsMonitoring) {
  const Outcome stale = Run("--status");
  EXPECT_EQ(stale.code, 1) << "db0001 backs up automatically and has no verified backup:\n" << stale.out;
  EXPECT_NE(stale.out.find("db0001\t\t-\tstale"), std::string::npos) << stale.out;

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
}

}  // namespace
}  // namespace qn
