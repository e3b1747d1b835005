// The real executable, run headless as a person without a desktop would.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <sstream>

#include <gtest/gtest.h>

#include "base/sha1.h"
#include "base/text.h"
#include "platform/named_objects.h"
#include "test_support/program_process.h"
#include "test_support/temp_dir.h"

namespace {

struct Installed {
  TempDir dir;
  TempDir objects;  // a kernel-object namespace of this test alone
  std::string program;
  std::vector<std::string> env;
  explicit Installed(bool infoServers = false) {
    program = InstallProgram(QN_PROGRAM_PATH, dir.path());
    env = {"QN_OBJECTS_DIR=" + objects.path(), "QN_REGISTRY_DIR=" + objects.path() + "/registry"};
    std::ofstream(dir.File("debug.txt")) << "";
    if (!infoServers) {
      std::ofstream(dir.File("ignore-udp.txt")) << "";
      std::ofstream(dir.File("ignore-tcp.txt")) << "";
    }
  }
};

}  // namespace

TEST(Program, ASecondStartHandsActivateToTheFirstAndEnds) {
  Installed app;
  ProgramProcess first(app.program, {"--headless=1"}, app.env);
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(WaitForLog(app.dir, "hostname is ")) << MainLog(app.dir);
  ProgramProcess second(app.program, {"--headless=1"}, app.env);
  EXPECT_EQ(second.Wait(10000), 0) << "the second instance did not end";
  EXPECT_TRUE(WaitForLog(app.dir, " intercom activate\r\n", 5000)) << MainLog(app.dir);
  EXPECT_EQ(first.Wait(0), -1) << "the first instance must still run";

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(10000), 0);
  std::string log = MainLog(app.dir);
  EXPECT_NE(log.find(qn::Win1251("Выход из программы")), std::string::npos);
  std::string settings = ReadAll(app.dir.File("settings.xml"));
  EXPECT_EQ(settings.rfind("<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <PIN>JD_LW4</PIN>", 0),
            0u)
      << settings;
  // The register holds passwords: its file and its copy are the owner's alone.
  struct stat st;
  ASSERT_EQ(stat(app.dir.File("settings.xml").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A start that comes while the first instance shuts down: the first ends,
// and the second becomes the instance once the first has gone. The first's
// shutdown is held at its exit line by holding the log mutex meanwhile.
TEST(Program, AStartDuringTheFirstOnesShutdownNeverHangs) {
  Installed app;
  std::ofstream(app.dir.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data_state>initialized</data_state>\r\n"
         "</settings>\r\n";
  std::ofstream(app.dir.File("fb.ini")) << "[default]\r\nhost=localhost\r\n";
  ProgramProcess first(app.program, {"--headless=1"}, app.env);
  // Its termination signal is taken from before this line on (it ends the
  // run through the event loop once that runs).
  ASSERT_TRUE(WaitForLog(app.dir, "hostname is ")) << MainLog(app.dir);

  ::setenv("QN_OBJECTS_DIR", app.objects.path().c_str(), 1);
  auto logLock = qn::platform::NamedMutex::Create("RU.QUORVEN.RAZAD.LOGSYNC", true);
  first.Signal(SIGTERM);
  // The first stops answering the channel before its exit line, where the
  // lock holds it; the program shows no sign of having got there, so this
  // one pause stays.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ProgramProcess second(app.program, {"--headless=1"}, app.env);
  // The second has posted its "activate" once its answer event exists.
  const auto posted = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!qn::platform::NamedEvent::Open("RU.QUORVEN.RAZAD.INTERCOM.00.reply") && second.Wait(0) == -1 &&
         std::chrono::steady_clock::now() < posted)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  logLock->Release();
  logLock.reset();
  ::unsetenv("QN_OBJECTS_DIR");

  EXPECT_EQ(first.Wait(15000), 0) << "the first instance hangs in its shutdown";
  std::string log;
  auto starts = [&] {
    log = MainLog(app.dir);
    size_t n = 0;
    for (size_t at = log.find("hostname is "); at != std::string::npos; at = log.find("hostname is ", at + 1)) ++n;
    return n;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (starts() < 2 && second.Wait(0) == -1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(starts(), 2u) << "the second start did not become the instance\n" << log;
  second.Signal(SIGTERM);
  EXPECT_EQ(second.Wait(15000), 0);
}

// Without its instance channel the program could never be found by a second
// start: it does not run, and says why instead of vanishing.
TEST(Program, AChannelThatCannotBeMadeIsSaidAndTheRunEnds) {
  Installed app;
  // The namespace of named objects lies under a file, where no folder can be made.
  std::ofstream(app.dir.File("blocked")) << "";
  const std::string err = app.dir.File("stderr.txt");
  const std::string cmd = "QN_OBJECTS_DIR='" + app.dir.File("blocked") + "' '" + app.program +
                          "' --headless=1 </dev/null >/dev/null 2>'" + err + "'";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string said = ReadAll(err);
  EXPECT_EQ(said.rfind("qndbmgr: " + qn::Win1251ToUtf8(qn::Win1251("Невозможно создать канал связи между копиями "
                                                                   "программы \"RU.QUORVEN.RAZAD.INTERCOM\": ")),
                       0),
            0u)
      << said;
  EXPECT_FALSE(std::filesystem::exists(app.dir.File("settings.xml"))) << "the run went on";
}

TEST(Program, AFreshHeadlessStartTakesTheFirstRunOfferAndLogsItsQuestion) {
  Installed app;
  ProgramProcess run(app.program, {"--headless=1"}, app.env);
  ASSERT_TRUE(WaitForLog(app.dir, qn::Win1251("создать новую пустую базу данных"))) << MainLog(app.dir);
  // The question is logged as it is answered, before the folder is made.
  EXPECT_TRUE(WaitUntil([&] { return std::filesystem::is_directory(app.dir.File("data")); }));
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(10000), 0);
}

namespace {

// A workstation's framing: SHA-1 of body + key, a blank, the body.
std::string Frame(const std::string& payload, uint32_t number, const std::string& key) {
  char num[9];
  snprintf(num, sizeof num, "%08X", number);
  std::string body = std::string(num) + " " + payload;
  return qn::Sha1Hex(body + key) + " " + body;
}

}  // namespace

// A workstation finds the databases of a running program over TCP and UDP.
TEST(Program, AnswersWorkstationsOverTcpAndUdp) {
  Installed app(/*infoServers=*/true);
  int port = ListeningPort();
  std::ofstream(app.dir.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <PIN>K9</PIN>\r\n"
      << "  <tcp-port>" << port << "</tcp-port>\r\n  <udp-port>" << port << "</udp-port>\r\n"
      << "  <data>\r\n    <db0000>\r\n      <path>localhost/53030:/srv/tx.fd3</path>\r\n"
      << "      <user>SYSDBA</user>\r\n      <pwd>quillfern</pwd>\r\n      <caption>Main base</caption>\r\n"
      << "    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
  // The program answers datagrams on the workstation's fixed port 7985, at
  // the sender's address: an address of the loopback range of this run's
  // own keeps runs at the same time (and the ordinary user's) apart.
  int udp = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in me{};
  me.sin_family = AF_INET;
  me.sin_port = htons(7985);
  bool haveReplyPort = false;
  for (uint32_t n = static_cast<uint32_t>(getpid()) * 2654435761u, tries = 0; !haveReplyPort && tries < 100;
       ++tries, n = n * 1103515245u + 12345u) {
    me.sin_addr.s_addr = htonl(0x7F000000u | (n >> 8 & 0xFFFFFFu) | 1u);
    haveReplyPort = bind(udp, reinterpret_cast<sockaddr*>(&me), sizeof me) == 0;
  }
  ASSERT_TRUE(haveReplyPort) << "no loopback address has port 7985 free";

  ProgramProcess run(app.program, {"--headless=1"}, app.env);
  ASSERT_TRUE(WaitForLog(app.dir, "started info server on TCP port " + std::to_string(port))) << MainLog(app.dir);
  const std::string host = [] {
    char b[1024] = {};
    gethostname(b, sizeof b - 1);
    return std::string(b);
  }();

  std::string reply = TcpRequest(port, Frame("get-database-info-by-num 0 V3", 0x2A, "K9"));
  std::string payload = std::string("database-info 0000002A 0 db0000 Main#20base inet4://") + host +
                        ":53030//srv/tx.fd3 SYSDBA quillfern";
  ASSERT_GT(reply.size(), 52u) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 2), "\r\n");
  std::string packet = reply.substr(0, reply.size() - 2);
  EXPECT_EQ(packet.substr(41), packet.substr(41, 9) + payload);
  EXPECT_EQ(packet.substr(0, 40), qn::Sha1Hex(packet.substr(41) + "K9")) << "the reply's check sum";
  EXPECT_EQ(TcpRequest(port, Frame("GET-ACTIVE-SERVERS", 1, "K9")), "") << "commands are case-sensitive";

  {
    std::string datagram = Frame("get-active-servers", 7, "K9");
    sockaddr_in to = me;
    to.sin_port = htons(static_cast<uint16_t>(port));
    sendto(udp, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    timeval tv{10, 0};
    setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[4096];
    ssize_t n = recv(udp, buf, sizeof buf, 0);
    ASSERT_GT(n, 50) << "no datagram came back";
    std::string got(buf, static_cast<size_t>(n));
    EXPECT_EQ(got.substr(50), "active-server 00000007 " + host + " 1");
  }
  close(udp);
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(15000), 0);
}

// On a machine where the private server runs, a fresh start creates the
// first database there, with its marker table, and records it.
TEST(Program, AFreshStartCreatesTheFirstDatabaseOnTheFirebird30Server) {
  if (system("bash " QN_SOURCE_DIR "/scripts/firebird-servers.sh status fb30 >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "the Firebird 3.0 server on port 53030 is not running";
  Installed app;
  ProgramProcess run(app.program, {"--headless=1"}, app.env);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadAll(app.dir.File("settings.xml")).find("<data_state>initialized</data_state>") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << MainLog(app.dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(std::filesystem::exists(app.dir.File("data/tx.fd3")));
  std::string settings = ReadAll(app.dir.File("settings.xml"));
  EXPECT_NE(settings.find("<path>localhost/53030:" + app.dir.File("data/tx.fd3") + "</path>"), std::string::npos);
  std::string sql = app.dir.File("q.sql");
  std::ofstream(sql) << "select fname || '/' || fstate from tproto;\n";
  std::string cmd = "env -u FIREBIRD isql-fb -q -user SYSDBA -password quillfern -i " + sql +
                    " localhost/53030:" + app.dir.File("data/tx.fd3") + " > " + app.dir.File("q.out") + " 2>&1";
  EXPECT_EQ(system(cmd.c_str()), 0);
  EXPECT_NE(ReadAll(app.dir.File("q.out")).find("TX7/PROTO"), std::string::npos) << ReadAll(app.dir.File("q.out"));
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(15000), 0);
}

// The desktop user runs the program beside the Firebird 3.0 server that root
// runs (its guard holds the machine-wide running-test mutex): the program
// sees it, offers no installation and tells workstations it is there.
TEST(Program, AnOrdinaryUserSeesTheServerThatRootRuns) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to run the server's side";
  Installed app(/*infoServers=*/true);
  ASSERT_EQ(chmod(app.objects.path().c_str(), 01777), 0);
  ASSERT_EQ(chown(app.dir.path().c_str(), 65534, 65534), 0);
  const int port = ListeningPort();
  std::ofstream(app.dir.File("ignore-udp.txt")) << "";
  std::ofstream(app.dir.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <PIN>K9</PIN>\r\n"
      << "  <tcp-port>" << port << "</tcp-port>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
  for (const char* f : {"settings.xml", "ignore-udp.txt", "ignore-tcp.txt", "debug.txt"})
    chown(app.dir.File(f).c_str(), 65534, 65534);
  std::remove(app.dir.File("ignore-tcp.txt").c_str());
  ::setenv("QN_OBJECTS_DIR", app.objects.path().c_str(), 1);
  auto server = qn::platform::NamedMutex::Create("Global\\FirebirdServerMutexFirebird SQL 3.0 QN", false);
  ::unsetenv("QN_OBJECTS_DIR");

  std::vector<std::string> args = {"--reuid=65534", "--regid=65534", "--clear-groups", app.program, "--headless=1"};
  ProgramProcess run("/usr/bin/setpriv", args, app.env);
  ASSERT_TRUE(WaitForLog(app.dir, "started info server on TCP port " + std::to_string(port))) << MainLog(app.dir);
  const std::string reply = TcpRequest(port, Frame("get-fb30-support", 5, "K9"));
  ASSERT_GT(reply.size(), 41u) << MainLog(app.dir);
  EXPECT_EQ(reply.substr(50), "fb30-support 1\r\n");
  const std::string log = MainLog(app.dir);
  EXPECT_EQ(log.find(qn::Win1251("не установлен сервер")), std::string::npos) << log;
  EXPECT_EQ(log.find(qn::Win1251("Ошибка")), std::string::npos) << log;
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(15000), 0);
}

// Started by the system's service manager with a notification socket: it
// says it is ready once its info server takes connections, and says when it
// stops.
TEST(Program, TellsTheServiceManagerItIsReadyOnceItsInfoServerIsBound) {
  Installed app(/*infoServers=*/true);
  const int port = ListeningPort();
  std::ofstream(app.dir.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n"
      << "  <tcp-port>" << port << "</tcp-port>\r\n  <udp-port>" << port << "</udp-port>\r\n"
      << "  <data_state>initialized</data_state>\r\n</settings>\r\n";
  const std::string socketPath = app.objects.File("notify");
  int notify = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval wait{20, 0};
  setsockopt(notify, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

  std::vector<std::string> env = app.env;
  env.push_back("NOTIFY_SOCKET=" + socketPath);
  ProgramProcess run(app.program, {"--headless=1"}, env);
  char got[64] = {};
  ASSERT_GT(recv(notify, got, sizeof got - 1, 0), 0) << "no notification\n" << MainLog(app.dir);
  EXPECT_STREQ(got, "READY=1");
  int client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(client, reinterpret_cast<sockaddr*>(&server), sizeof server), 0)
      << "ready before its info server took connections";
  close(client);
  run.Signal(SIGTERM);
  std::memset(got, 0, sizeof got);
  ASSERT_GT(recv(notify, got, sizeof got - 1, 0), 0);
  EXPECT_STREQ(got, "STOPPING=1");
  EXPECT_EQ(run.Wait(10000), 0);
  close(notify);
}
