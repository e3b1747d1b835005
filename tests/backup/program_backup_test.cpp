// The running program backs up a database when a workstation asks over TCP.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "base/text.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_test_support.h"
#include "infoserver/info_packet.h"
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
  const int port = 20000 + (getpid() + 7) % 20000;
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

}  // namespace
}  // namespace qn
