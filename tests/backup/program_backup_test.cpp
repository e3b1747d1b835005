// The running program backs up a database when a workstation asks over TCP.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/text.h"
#include "firebird/fb30_server.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_test_support.h"
#include "infoserver/info_packet.h"
#include "platform/system.h"
#include "test_support/program_process.h"

namespace qn {
namespace {

using ProgramBackup = fbtest::ServerTest;

TEST_F(ProgramBackup, AnswersARemoteBackupRequestOnceTheFileIsComplete) {
  const std::string database = dir_.File("src.fd3");
  {
    TqnFbConnection c;
    c.SetDatabaseName(fbtest::Fb30Path(database));
    c.CreateDatabase();
  }
  TempDir program, objects;
  const std::string exe = InstallProgram(QN_PROGRAM_PATH, program.path());
  std::ofstream(program.File("ignore-udp.txt")) << "";
  const int port = ListeningPort();
  std::ofstream(program.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <PIN>K9</PIN>\r\n"
      << "  <tcp-port>" << port << "</tcp-port>\r\n"
      << "  <data>\r\n    <db0000>\r\n      <path>" << fbtest::Fb30Path(database) << "</path>\r\n"
      << "      <user>SYSDBA</user>\r\n      <pwd>quillfern</pwd>\r\n"
      << "      <backup>\r\n        <path>" << dir_.path() << "</path>\r\n      </backup>\r\n"
      << "    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
  ProgramProcess run(exe, {"--headless=1"},
                     {"QN_OBJECTS_DIR=" + objects.path(), "QN_REGISTRY_DIR=" + objects.path() + "/registry"});
  ASSERT_TRUE(run.Started());
  const std::string started = "started info server on TCP port " + std::to_string(port);
  for (int i = 0; i < 1000 && MainLog(program).find(started) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_NE(MainLog(program).find(started), std::string::npos) << MainLog(program);

  const std::string reply = TcpRequest(port, EncodePacket("perform-database-backup db0000", "K9", 0x2A));
  TqnDecodedPacket packet = DecodePacket(TrimControl(reply), "K9");
  EXPECT_EQ(packet.payload, "database-backup-info 0000002A success") << reply;

  std::string file;
  for (const auto& name : dir_.Entries())
    if (name.rfind("remote-", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".bk3") file = name;
  ASSERT_FALSE(file.empty());
  EXPECT_GT(platform::ReadFile(dir_.File(file)).size(), 0u);
  // The whole verbose output, to the closing of the file, came before the reply.
  std::string verbose;
  for (const auto& name : TempDir::ListDir(program.File("log")))
    if (name.rfind("log-remotebackup-", 0) == 0) verbose += platform::ReadFile(program.File("log/" + name));
  EXPECT_NE(verbose.find("closing file"), std::string::npos) << verbose;

  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(20000), 0);
}

// Installed in a folder named in Russian, the program makes its first
// database there, tells workstations where it is, backs it up on request,
// and the files on disk carry the real Cyrillic names.
TEST_F(ProgramBackup, WorksFromAFolderWithARussianName) {
  TempDir root, objects;
  const std::string folder = root.path() + "/Менеджер баз";
  std::filesystem::create_directory(folder);
  const std::string exe = InstallProgram(QN_PROGRAM_PATH, folder);
  std::ofstream(folder + "/ignore-udp.txt") << "";
  const int port = ListeningPort();
  std::ofstream(folder + "/settings.xml", std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <PIN>K9</PIN>\r\n"
      << "  <tcp-port>" << port << "</tcp-port>\r\n</settings>\r\n";
  // The Firebird 3.0 server counts as installed in the run's own key store.
  ::setenv("QN_REGISTRY_DIR", objects.File("registry").c_str(), 1);
  platform::RegistryCreateKey(kFb30UninstallKey);
  ::unsetenv("QN_REGISTRY_DIR");
  ProgramProcess run(exe, {"--headless=1"},
                     {"QN_OBJECTS_DIR=" + objects.path(), "QN_REGISTRY_DIR=" + objects.File("registry")});
  ASSERT_TRUE(run.Started());

  // Start-up ends by marking the register initialized once the first
  // database is made.
  for (int i = 0; i < 1500 && ReadAll(folder + "/settings.xml").find("initialized") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::string database = platform::FromKernelFileName(folder) + "/data/tx.fd3";
  const std::string info = TcpRequest(port, EncodePacket("get-database-info-by-num 0 V3", "K9", 1));
  ASSERT_NE(info.find(EscapeField(database)), std::string::npos) << info;
  EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/data/tx.fd3"));

  const std::string reply = TcpRequest(port, EncodePacket("perform-database-backup db0000", "K9", 0x2A));
  EXPECT_EQ(DecodePacket(TrimControl(reply), "K9").payload, "database-backup-info 0000002A success") << reply;
  std::string backup;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder + "/backup"))
    if (e.path().extension() == ".bk3") backup = e.path().string();
  ASSERT_FALSE(backup.empty());
  // The server's own tool restores it under another Cyrillic name.
  std::string out;
  EXPECT_EQ(fbtest::RunCommand("env -u FIREBIRD gbak -c -se localhost/53030:service_mgr -user SYSDBA -pas quillfern " +
                                   fbtest::ShellQuote(backup) + " " + fbtest::ShellQuote(folder + "/data/копия.fd3"),
                               out),
            0)
      << out;
  EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/data/копия.fd3"));

  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(20000), 0);
  EXPECT_NE(platform::ReadFile(platform::FromKernelFileName(folder) + "/settings.xml")
                .find("<path>localhost/53030:" + database + "</path>"),
            std::string::npos);
}

// A kill at any moment of a backup or of its proof leaves no file under a
// backup's name; the next start of the program sweeps what the killed run
// left, and the next backup is whole.
TEST_F(ProgramBackup, AKillDuringTheBackupOrItsProofLeavesNoBackupNameAndTheNextStartSweeps) {
  const std::string database = dir_.File("src.fd3");
  {
    TqnFbConnection c;
    c.SetDatabaseName(fbtest::Fb30Path(database));
    c.CreateDatabase();
  }
  std::string out;
  // Enough rows for the backup and its restore to take a moment each.
  ASSERT_EQ(fbtest::RunIsql("create table t (id integer, s varchar(200)); commit; set term ^; execute block as "
                            "declare i integer = 0; begin while (i < 150000) do begin "
                            "insert into t values (:i, lpad('', 180, 'x')); i = i + 1; end end^ set term ;^ commit;",
                            out, fbtest::Fb30Path(database), fbtest::kUser, fbtest::kPassword),
            0)
      << out;
  TempDir program, objects;
  const std::string bk = dir_.File("Копии");
  std::filesystem::create_directory(bk);
  const std::string exe = InstallProgram(QN_PROGRAM_PATH, program.path());
  for (const char* flag : {"ignore-udp.txt", "ignore-tcp.txt"}) std::ofstream(program.File(flag)) << "";
  std::ofstream(program.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <PIN>K9</PIN>\r\n"
      << "  <data>\r\n    <db0000>\r\n      <path>" << fbtest::Fb30Path(database) << "</path>\r\n"
      << "      <user>SYSDBA</user>\r\n      <pwd>quillfern</pwd>\r\n"
      << "      <backup>\r\n        <path>" << platform::FromKernelFileName(bk) << "</path>\r\n      </backup>\r\n"
      << "    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
  const std::vector<std::string> env = {"QN_OBJECTS_DIR=" + objects.path(),
                                        "QN_REGISTRY_DIR=" + objects.path() + "/registry"};
  auto named = [&](const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(bk))
      if (e.path().filename().string().rfind(prefix, 0) == 0) names.push_back(e.path().filename().string());
    return names;
  };
  // Killed once while the server writes the backup, once while it restores it.
  for (const char* moment : {"qnpartial-", "qnverify-"}) {
    ProgramProcess run(exe, {"--backup=db0000"}, env);
    ASSERT_TRUE(run.Started());
    for (int i = 0; i < 3000 && named(moment).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(named(moment).empty()) << "the run never reached " << moment;
    run.Signal(SIGKILL);
    run.Wait(20000);
    EXPECT_EQ(named("backup-"), std::vector<std::string>{}) << "killed at " << moment;
    EXPECT_FALSE(named("qnpartial-").empty()) << "the half-made backup is under its own name";
  }
  // The server may still finish what it was asked; then the next start sweeps.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ProgramProcess next(exe, {"--backup=db0000"}, env);
  ASSERT_TRUE(next.Started());
  EXPECT_EQ(next.Wait(120000), 0);
  EXPECT_EQ(named("qnpartial-"), std::vector<std::string>{});
  EXPECT_EQ(named("qnverify-"), std::vector<std::string>{});
  ASSERT_EQ(named("backup-").size(), 1u);
  EXPECT_NE(platform::ReadFile(platform::FromKernelFileName(bk) + "/catalogue.txt").find(named("backup-")[0]),
            std::string::npos);
}

}  // namespace
}  // namespace qn
