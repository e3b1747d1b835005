// The private Firebird 3.0 server: its running and installed tests, the
// start-up offer to install it, and the real installer "fbserver30" with its
// guard, against real Firebird servers on this machine.
//
// Every test moves the named objects and the key store into its own
// temporary folders, so that it neither sees nor disturbs a real instance.
#include <arpa/inet.h>
#include <pwd.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/text.h"
#include "firebird/fb30_server.h"
#include "platform/files.h"
#include "platform/named_objects.h"
#include "platform/system.h"
#include "test_support/child_process.h"
#include "test_support/listening_port.h"
#include "test_support/temp_dir.h"

using namespace qn;

namespace {

const std::string kInstaller = QN_FB30_INSTALLER;
const std::string kServersScript = QN_SERVERS_SCRIPT;
constexpr int kDevPort = 53030;  // the dev server of scripts/firebird-servers.sh

bool PortAnswers(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// Waits for a condition that another process brings about; false after 30 s.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 3000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A TCP port on 127.0.0.1 that accepts connections and closes them at once:
// answers like a server, but no Firebird behind it.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        ::close(c);
      }
    });
  }
  ~Listener() { Close(); }
  int Port() const { return port_; }
  void Close() {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// A process started from the test (a guard run directly).
class Spawned {
 public:
  explicit Spawned(std::vector<std::string> args) {
    args.insert(args.begin(), kInstaller);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, kInstaller.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~Spawned() {
    if (pid_ > 0 && !done_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  pid_t Pid() const { return pid_; }
  int Wait() {
    int st = 0;
    while (::waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
    }
    done_ = true;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
};

// True when a socket listens on the port at the wildcard address of IPv4 or
// IPv6 (state 0A in the kernel's tables), not only on loopback.
bool ListensOnEveryInterface(int port) {
  const std::string wanted = Format(":%04X ", port);
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (state != "0A" || local.find(wanted.substr(0, wanted.size() - 1)) == std::string::npos) continue;
      if (local.find_first_not_of('0') == local.find(':')) return true;
    }
  }
  return false;
}

// The user id of the process that listens on the port (its socket found by
// inode in the kernel's tables and among the processes' descriptors); -1
// when none is found.
long ListenerUid(int port) {
  const std::string wanted = Format(":%04X", port);
  std::string inode;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    for (std::string line; inode.empty() && std::getline(in, line);) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, node;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> node;
      if (state == "0A" && local.size() > wanted.size() &&
          local.compare(local.size() - wanted.size(), wanted.size(), wanted) == 0)
        inode = node;
    }
  }
  if (inode.empty()) return -1;
  const std::string target = "socket:[" + inode + "]";
  std::error_code ec;
  for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
    std::error_code fdError;
    for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
      std::error_code linkError;
      if (std::filesystem::read_symlink(fd.path(), linkError).string() != target) continue;
      struct stat st;
      return ::stat(process.path().c_str(), &st) == 0 ? static_cast<long>(st.st_uid) : -1;
    }
  }
  return -1;
}

// Runs a shell command line; its stdout and stderr land in *output.
int Shell(const std::string& command, const std::string& outputFile, std::string* output) {
  int rc = platform::RunProcessAndWait("/bin/sh", {"-c", command + " >'" + outputFile + "' 2>&1"});
  *output = platform::FileExists(outputFile) ? platform::ReadFile(outputFile) : "";
  return rc;
}

// The named objects, the key store and the instance folder of one test.
class Fb30Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QN_OBJECTS_DIR", dir_.File("objects").c_str(), 1);
    ::setenv("QN_REGISTRY_DIR", dir_.File("registry").c_str(), 1);
    ::setenv("QN_FB30_DIR", InstanceDir().c_str(), 1);
    ::unsetenv("QN_FB30_PORT");
    // Installed by root, the server runs as its own user, who must reach
    // the instance folder inside this one.
    ::chmod(dir_.path().c_str(), 0711);
  }
  void TearDown() override {
    for (const char* v : {"QN_OBJECTS_DIR", "QN_REGISTRY_DIR", "QN_FB30_DIR", "QN_FB30_PORT"}) ::unsetenv(v);
  }
  std::string InstanceDir() const { return dir_.File("fb30"); }
  int RunInstaller(const std::vector<std::string>& args = {}) { return platform::RunProcessAndWait(kInstaller, args); }
  std::string InstancePassword() const {
    const std::string f = InstanceDir() + "/sysdba.password";
    std::string text = platform::FileExists(f) ? platform::ReadFile(f) : "";
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  std::string GuardPid() const {
    const std::string f = InstanceDir() + "/guard.pid";
    return platform::FileExists(f) ? platform::ReadFile(f) : "";
  }

  TempDir dir_;
};

// Stops the instance of the test whatever the test's outcome.
struct StopAtEnd {
  ~StopAtEnd() { platform::RunProcessAndWait(kInstaller, {"--stop"}); }
};

}  // namespace

// ---- child modes: a process that holds a mutex until it is killed ----

QN_CHILD_MODE(hold_mutex) {
  auto m = platform::NamedMutex::Create(args.at(0), false);
  qntest::TouchFile(args.at(1));
  for (;;) ::pause();
}

// ---- running and installed ----

TEST_F(Fb30Test, EitherMutexMakesItRunningUntilItsHolderIsKilled) {
  for (const char* name : {kFb30MutexName, kFb30GlobalMutexName}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(IsFb30Running());
    const std::string ready = dir_.File(qntest::UniqueName("ready"));
    qntest::ChildProcess holder("hold_mutex", {name, ready});
    ASSERT_TRUE(holder.Started());
    ASSERT_TRUE(qntest::WaitForFile(ready));
    EXPECT_TRUE(IsFb30Running());
    EXPECT_TRUE(IsFb30Installed()) << "running counts as installed without the key";
    holder.Kill(SIGKILL);
    holder.Wait();
    EXPECT_FALSE(IsFb30Running());
    EXPECT_FALSE(IsFb30Installed());
  }
}

TEST_F(Fb30Test, OnlyTheNamesOfThisInstanceCount) {
  const std::string ready = dir_.File("ready");
  qntest::ChildProcess holder("hold_mutex", {"Global\\FirebirdServerMutexFirebird SQL 3.0", ready});
  ASSERT_TRUE(qntest::WaitForFile(ready));
  EXPECT_FALSE(IsFb30Running());
}

TEST_F(Fb30Test, InstalledFollowsTheUninstallKey) {
  EXPECT_FALSE(IsFb30Installed());
  platform::RegistryCreateKey(kFb30UninstallKey);
  EXPECT_TRUE(IsFb30Installed());
  EXPECT_FALSE(IsFb30Running());
  platform::RegistryDeleteKey(kFb30UninstallKey);
  EXPECT_FALSE(IsFb30Installed());
}

// ---- the guard ----

TEST_F(Fb30Test, AnAdoptingGuardHoldsTheMutexesUntilKilled) {
  Listener server;
  Spawned guard({"--guard", "--dir", InstanceDir(), "--port", std::to_string(server.Port()), "--adopt"});
  ASSERT_GT(guard.Pid(), 0);
  ASSERT_TRUE(Eventually([] { return IsFb30Running(); }));
  // The guard creates one mutex after the other; running is seen at the first.
  EXPECT_TRUE(Eventually([] { return platform::NamedMutex::Open(kFb30MutexName) != nullptr; }));
  EXPECT_TRUE(Eventually([] { return platform::NamedMutex::Open(kFb30GlobalMutexName) != nullptr; }));
  EXPECT_TRUE(Eventually([&] { return GuardPid() == std::to_string(guard.Pid()) + "\n"; })) << GuardPid();
  ::kill(guard.Pid(), SIGKILL);
  guard.Wait();
  EXPECT_FALSE(IsFb30Running());
}

TEST_F(Fb30Test, AnAdoptingGuardEndsWhenThePortStopsAnswering) {
  Listener server;
  Spawned guard({"--guard", "--dir", InstanceDir(), "--port", std::to_string(server.Port()), "--adopt"});
  ASSERT_TRUE(Eventually([] { return IsFb30Running(); }));
  server.Close();
  EXPECT_EQ(guard.Wait(), 0);
  EXPECT_FALSE(IsFb30Running());
  EXPECT_EQ(GuardPid(), "") << "the pid file goes with the guard";
}

TEST_F(Fb30Test, AGuardRefusesToRunBesideAnother) {
  auto held = platform::NamedMutex::Create(kFb30GlobalMutexName, false);
  Listener server;
  Spawned guard({"--guard", "--dir", InstanceDir(), "--port", std::to_string(server.Port()), "--adopt"});
  EXPECT_EQ(guard.Wait(), 1);
  EXPECT_FALSE(platform::NamedMutex::Open(kFb30MutexName)) << "the refused guard left its mutex behind";
}

// ---- the start-up offer ----

namespace {

struct Offer {
  std::vector<std::string> questions;
  std::vector<std::string> errors;
  bool answer = true;
  TqnAskWarning Ask() {
    return [this](const std::string& t) {
      questions.push_back(t);
      return answer;
    };
  }
  TqnShowError Show() {
    return [this](const std::string& t) { errors.push_back(t); };
  }
};

// An installer that records that it ran; it finishes its record only after
// a pause, so a caller that did not wait would find it unfinished.
void WriteFakeInstaller(const std::string& folder) {
  const std::string path = platform::JoinPath(folder, kFb30InstallerName);
  platform::WriteFileReplacing(path,
                               "#!/bin/sh\n"
                               "d=$(dirname \"$0\")\n"
                               "echo \"$*\" >\"$d/args\"\n"
                               "echo started >\"$d/marker\"\n"
                               "sleep 0.3\n"
                               "echo finished >\"$d/marker\"\n"
                               "exit 3\n");
  ::chmod(path.c_str(), 0755);
}

const std::string kQuestion = Win1251(
    "На этом компьютере не установлен сервер \"Firebird SQL 3.0\", который необходим для работы. Запустить "
    "программу установки?");

}  // namespace

TEST_F(Fb30Test, TheOfferIsNotMadeWithFbIniOrWhenInstalled) {
  TempDir program;
  WriteFakeInstaller(program.path());
  Offer offer;
  EnsureFb30Installed(program.path(), true, offer.Ask(), offer.Show());
  EXPECT_TRUE(offer.questions.empty()) << "fb.ini names another server";
  platform::RegistryCreateKey(kFb30UninstallKey);
  EnsureFb30Installed(program.path(), false, offer.Ask(), offer.Show());
  EXPECT_TRUE(offer.questions.empty()) << "installed";
  EXPECT_FALSE(platform::FileExists(program.File("marker")));
}

TEST_F(Fb30Test, YesRunsTheInstallerAndWaitsForIt) {
  TempDir program;
  WriteFakeInstaller(program.path());
  Offer offer;
  EnsureFb30Installed(program.path(), false, offer.Ask(), offer.Show(), {"/srv/db", "not-absolute"});
  ASSERT_EQ(offer.questions, std::vector<std::string>{kQuestion});
  ASSERT_TRUE(platform::FileExists(program.File("marker")));
  EXPECT_EQ(platform::ReadFile(program.File("marker")), "finished\n");
  EXPECT_TRUE(offer.errors.empty()) << "its exit status is not looked at";
  EXPECT_EQ(platform::ReadFile(program.File("args")),
            "--allow " + program.File("data") + " --allow " + program.File("backup") + " --allow /srv/db\n")
      << "the server is told the folder of the first database and those of the register";
}

TEST_F(Fb30Test, NoRunsNothing) {
  TempDir program;
  WriteFakeInstaller(program.path());
  Offer offer;
  offer.answer = false;
  EnsureFb30Installed(program.path(), false, offer.Ask(), offer.Show());
  EXPECT_EQ(offer.questions.size(), 1u);
  EXPECT_FALSE(platform::FileExists(program.File("marker")));
  EXPECT_TRUE(offer.errors.empty());
}

TEST_F(Fb30Test, AMissingInstallerIsReported) {
  TempDir program;
  Offer offer;
  EnsureFb30Installed(program.path(), false, offer.Ask(), offer.Show());
  EXPECT_EQ(offer.questions.size(), 1u);
  EXPECT_EQ(offer.errors,
            std::vector<std::string>{Win1251("Установочный комплект сервера \"Firebird SQL 3.0\" не найден")});
}

TEST_F(Fb30Test, WithoutRootRightsOrADesktopTheInstallerIsNotStartedAndTheReasonShown) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to act as an ordinary user";
  TempDir program, shared;
  WriteFakeInstaller(program.path());
  ASSERT_EQ(::chmod(program.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(shared.path().c_str(), 01777), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QN_OBJECTS_DIR", shared.path().c_str(), 1);
    ::setenv("QN_REGISTRY_DIR", shared.File("registry").c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    Offer offer;
    EnsureFb30Installed(program.path(), false, offer.Ask(), offer.Show());
    const bool shown =
        offer.errors == std::vector<std::string>{Fb30InstallerNeedsRightsMessage(Fb30InstallerPath(program.path()))};
    ::_exit(shown && !platform::FileExists(program.File("marker")) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- the real installer ----

// Each installed instance takes a port free now, so that runs side by side
// and ports a killed run left bound never meet.
TEST_F(Fb30Test, TheInstallerSetsUpAServerThatTakesDatabases) {
  const int kTestPort = ListeningPort();
  ASSERT_FALSE(PortAnswers(kTestPort)) << "port " << kTestPort << " is taken; these tests need it free";
  ::setenv("QN_FB30_PORT", std::to_string(kTestPort).c_str(), 1);
  StopAtEnd stop;
  // Databases only in the folder it is given (and the service's).
  const std::string dbFolder = dir_.File("Базы");  // UTF-8 on disk, as the server gets it
  std::filesystem::create_directory(dbFolder);
  ASSERT_EQ(RunInstaller({"--allow", platform::FromKernelFileName(dbFolder)}), 0);  // as the program passes it
  EXPECT_TRUE(PortAnswers(kTestPort));
  EXPECT_TRUE(IsFb30Running());
  EXPECT_TRUE(platform::RegistryKeyExists(kFb30UninstallKey));
  const std::string conf = platform::ReadFile(InstanceDir() + "/root/firebird.conf");
  EXPECT_NE(conf.find("\nDatabaseAccess = Restrict /var/lib/qndbmgr;" + dbFolder + "\n"), std::string::npos) << conf;
  EXPECT_NE(conf.find("\nAuthServer = Srp\n"), std::string::npos) << "no legacy login unless asked:\n" << conf;

  EXPECT_TRUE(ListensOnEveryInterface(kTestPort)) << "workstations of the network must reach it";

  // Installed by root, as the program's first-run offer does: the server
  // that faces the network runs as Debian's Firebird user, never as root,
  // and its instance folder is that user's.
  const passwd* firebird = ::getpwnam("firebird");
  const long listener = ListenerUid(kTestPort);
  EXPECT_NE(listener, 0) << "the server listens as root";
  if (::geteuid() == 0 && firebird) {
    EXPECT_EQ(listener, static_cast<long>(firebird->pw_uid));
    struct stat st;
    ASSERT_EQ(::lstat(InstanceDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, firebird->pw_uid);
    ASSERT_EQ(::lstat((InstanceDir() + "/root/security3.fdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, firebird->pw_uid);
    // The server may write only where its user may.
    ASSERT_EQ(::chown(dbFolder.c_str(), firebird->pw_uid, firebird->pw_gid), 0);
    ::chmod(dir_.path().c_str(), 0711);
  }

  // The installation's own password: random letters and digits, kept for
  // root and the service's group only, told to root when asked.
  const std::string password = InstancePassword();
  EXPECT_GE(password.size(), 20u);
  EXPECT_EQ(password.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            std::string::npos);
  struct stat kept;
  ASSERT_EQ(::stat((InstanceDir() + "/sysdba.password").c_str(), &kept), 0);
  EXPECT_EQ(kept.st_mode & 0777, 0640u);
  if (::geteuid() == 0) {
    EXPECT_EQ(kept.st_uid, 0u);
  }
  std::string told;
  EXPECT_EQ(Shell("'" + kInstaller + "' --password", dir_.File("password.out"), &told), ::geteuid() == 0 ? 0 : 1);
  if (::geteuid() == 0) {
    EXPECT_EQ(told, password + "\n");
  }

  // A client with nothing of the instance in its environment, and a file
  // name in Russian, which the server must be able to make; the fixed word
  // every copy of the program knew opens nothing.
  std::string db = dbFolder + "/Учёт.fd3";
  const std::string sql = dir_.File("create.sql");
  const auto create = [&](const std::string& word) {
    platform::WriteFileReplacing(sql, "CREATE DATABASE 'localhost/" + std::to_string(kTestPort) + ":" + db +
                                          "' USER 'SYSDBA' PASSWORD '" + word +
                                          "' DEFAULT CHARACTER SET WIN1251;\n"
                                          "SELECT 'ODS=' || MON$ODS_MAJOR FROM MON$DATABASE;\n");
    std::string output;
    const int rc = Shell("env -u FIREBIRD -u ISC_USER -u ISC_PASSWORD isql-fb -q -bail -i '" + sql + "'",
                         dir_.File("isql.out"), &output);
    return std::make_pair(rc, output);
  };
  const auto refused = create("quillfern");
  EXPECT_NE(refused.first, 0) << refused.second;
  EXPECT_NE(refused.second.find("password"), std::string::npos) << refused.second;
  EXPECT_FALSE(std::filesystem::exists(db));
  // Outside the allowed folders nothing is made, even where the server's
  // user could write.
  const std::string elsewhere = dir_.File("Чужие");
  std::filesystem::create_directory(elsewhere);
  ::chmod(elsewhere.c_str(), 0777);
  const std::string db0 = db;
  db = elsewhere + "/x.fd3";
  const auto outside = create(password);
  EXPECT_NE(outside.first, 0) << outside.second;
  EXPECT_NE(outside.second.find("not allowed by server configuration"), std::string::npos) << outside.second;
  EXPECT_FALSE(std::filesystem::exists(db));
  db = db0;
  const auto [rc, out] = create(password);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("ODS=12"), std::string::npos) << out;
  EXPECT_TRUE(std::filesystem::is_regular_file(db));

  // A second run finds it running and only puts the key back.
  const std::string guard = GuardPid();
  platform::RegistryDeleteKey(kFb30UninstallKey);
  ASSERT_EQ(RunInstaller(), 0);
  EXPECT_TRUE(platform::RegistryKeyExists(kFb30UninstallKey));
  EXPECT_EQ(GuardPid(), guard);

  ASSERT_EQ(RunInstaller({"--stop"}), 0);
  EXPECT_FALSE(IsFb30Running());
  EXPECT_FALSE(PortAnswers(kTestPort)) << "the server ends with its guard";
}

TEST_F(Fb30Test, AKilledGuardTakesItsServerAlongAndAReinstallRecovers) {
  const int kKillPort = ListeningPort();
  ASSERT_FALSE(PortAnswers(kKillPort)) << "port " << kKillPort << " is taken; these tests need it free";
  ::setenv("QN_FB30_PORT", std::to_string(kKillPort).c_str(), 1);
  StopAtEnd stop;
  ASSERT_EQ(RunInstaller(), 0);
  const pid_t guard = static_cast<pid_t>(std::stol(GuardPid()));
  ASSERT_EQ(::kill(guard, SIGKILL), 0);
  ASSERT_TRUE(Eventually([] { return !IsFb30Running(); }));
  EXPECT_TRUE(Eventually([kKillPort] { return !PortAnswers(kKillPort); })) << "the server outlived its guard";

  ASSERT_EQ(RunInstaller(), 0);
  EXPECT_TRUE(IsFb30Running());
  EXPECT_TRUE(PortAnswers(kKillPort));
  EXPECT_NE(GuardPid(), std::to_string(guard) + "\n");
}

// As the system's service manager runs it: prepared, then guarded in the
// foreground, the program's running test true exactly while it runs.
TEST_F(Fb30Test, TheServiceModeGuardsTheInstanceInTheForegroundUntilSigterm) {
  const int kServicePort = ListeningPort();
  ASSERT_FALSE(PortAnswers(kServicePort)) << "port " << kServicePort << " is taken; these tests need it free";
  ::setenv("QN_FB30_PORT", std::to_string(kServicePort).c_str(), 1);
  Spawned service({"--service"});
  ASSERT_TRUE(Eventually([kServicePort] { return PortAnswers(kServicePort) && IsFb30Running(); }));
  EXPECT_TRUE(platform::RegistryKeyExists(kFb30UninstallKey));
  EXPECT_EQ(GuardPid(), std::to_string(service.Pid()) + "\n") << "the service's own process is the guard";
  Spawned second({"--service"});
  EXPECT_EQ(second.Wait(), 1) << "a second service of the instance must refuse";
  std::string out;
  EXPECT_EQ(Shell("fbsvcmgr localhost/" + std::to_string(kServicePort) + ":service_mgr -user SYSDBA -password " +
                      InstancePassword() + " -info_server_version",
                  dir_.File("svc.out"), &out),
            0)
      << out;

  ::kill(service.Pid(), SIGTERM);
  EXPECT_EQ(service.Wait(), 0);
  EXPECT_FALSE(IsFb30Running());
  EXPECT_TRUE(Eventually([kServicePort] { return !PortAnswers(kServicePort); })) << "the server ends with the service";
}

// The developer's server on the port takes the same login, but it is not
// this instance: it is refused, never adopted, and left alone.
TEST_F(Fb30Test, TheInstallerNeverAdoptsAServerThatIsNotItsOwn) {
  if (!PortAnswers(kDevPort)) {
    std::string out;
    ASSERT_EQ(Shell("bash '" + kServersScript + "' start fb30", dir_.File("servers.out"), &out), 0) << out;
  }
  StopAtEnd stop;
  std::string err;
  EXPECT_NE(Shell("'" + kInstaller + "'", dir_.File("install.out"), &err), 0);
  EXPECT_NE(err.find(std::to_string(kDevPort)), std::string::npos) << err;
  EXPECT_FALSE(IsFb30Running());
  EXPECT_FALSE(platform::RegistryKeyExists(kFb30UninstallKey));
  EXPECT_FALSE(std::filesystem::exists(InstanceDir() + "/root")) << "no second server was prepared";
  Spawned service({"--service"});
  EXPECT_EQ(service.Wait(), 1) << "the service refuses the stranger too";
  EXPECT_FALSE(IsFb30Running());
  EXPECT_TRUE(PortAnswers(kDevPort)) << "the stranger is left alone";
}

TEST_F(Fb30Test, TheInstallerRefusesAPortTakenByAnotherProgram) {
  Listener other;
  ::setenv("QN_FB30_PORT", std::to_string(other.Port()).c_str(), 1);
  StopAtEnd stop;
  std::string err;
  EXPECT_NE(Shell("'" + kInstaller + "'", dir_.File("install.out"), &err), 0);
  EXPECT_NE(err.find(std::to_string(other.Port())), std::string::npos) << err;
  EXPECT_FALSE(IsFb30Running());
  EXPECT_FALSE(platform::RegistryKeyExists(kFb30UninstallKey));
}

TEST_F(Fb30Test, TheInstallerOnlyMakesTheKeyWhileTheInstanceRuns) {
  auto held = platform::NamedMutex::Create(kFb30MutexName, false);
  ASSERT_EQ(RunInstaller(), 0);
  EXPECT_TRUE(platform::RegistryKeyExists(kFb30UninstallKey));
  EXPECT_FALSE(std::filesystem::exists(InstanceDir())) << "nothing was prepared or started";
}
