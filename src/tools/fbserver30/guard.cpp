#include "tools/fbserver30/guard.h"

#include <errno.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "base/text.h"
#include "firebird/fb30_server.h"
#include "platform/files.h"
#include "platform/named_objects.h"
#include "tools/fbserver30/process.h"

namespace fbserver30 {

namespace {

constexpr int kStopGraceMs = 5000;

volatile sig_atomic_t gServerPid = 0;
volatile sig_atomic_t gStopRequested = 0;

void OnStopSignal(int) {
  gStopRequested = 1;
  if (gServerPid > 0) ::kill(gServerPid, SIGTERM);
}

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

void Say(const std::string& text) {
  std::fprintf(stderr, "fbserver30 guard[%d]: %s\n", static_cast<int>(::getpid()), text.c_str());
  std::fflush(stderr);
}

// The pid file names this guard while it runs; it is removed at the end
// unless another guard has taken it over meanwhile.
class PidFile {
 public:
  explicit PidFile(std::string path) : path_(std::move(path)) {
    qn::platform::WriteFileReplacing(path_, std::to_string(::getpid()) + "\n");
  }
  ~PidFile() {
    try {
      if (qn::platform::ReadFile(path_) == std::to_string(::getpid()) + "\n") ::unlink(path_.c_str());
    } catch (const std::exception&) {
    }
  }

 private:
  std::string path_;
};

pid_t StartServer(const TInstance& instance) {
  std::vector<std::string> env = EnvironmentBlock(instance.Environment());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = kServerBinary;
  char* argv[] = {program.data(), nullptr};
  const pid_t guard = ::getpid();
  const std::optional<TServerAccount> account = ServerAccount();
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  // Started by root: the server, which faces the network, runs as its
  // own account, never as root.
  if (account && (::initgroups(account->name.c_str(), account->gid) != 0 || ::setgid(account->gid) != 0 ||
                  ::setuid(account->uid) != 0 || ::setuid(0) == 0)) {
    std::fprintf(stderr, "fbserver30: cannot become the user %s\n", account->name.c_str());
    ::_exit(125);
  }
  // The server ends with its guard, however the guard ends: a server left
  // without its guard would run while the instance counts as stopped.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != guard) ::_exit(1);
  if (::chdir(instance.base.c_str()) != 0) {
    std::fprintf(stderr, "fbserver30: the server cannot enter %s (its user needs the folders above it searchable)\n",
                 instance.base.c_str());
    ::_exit(126);
  }
  ::execve(program.c_str(), argv, envp.data());
  ::_exit(127);
}

int GuardServer(const TInstance& instance) {
  pid_t pid;
  try {
    pid = StartServer(instance);
  } catch (const std::exception& e) {
    Say(e.what());
    return 1;
  }
  if (pid < 0) {
    Say("cannot start " + std::string(kServerBinary) + ": " + qn::platform::LastErrorText());
    return 1;
  }
  gServerPid = pid;
  if (gStopRequested) ::kill(pid, SIGTERM);  // a stop that came before the pid was known
  Say(qn::Format("started %s (pid %d) on port %d", kServerBinary, static_cast<int>(pid), instance.port));
  // A stop is forwarded as SIGTERM; a server still there kStopGraceMs later
  // (its shutdown can hang) is killed.
  int status = 0;
  int stoppingMs = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, gStopRequested ? WNOHANG : 0);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) {
      Say("waiting for the server failed: " + qn::platform::LastErrorText());
      return 1;
    }
    if (r == 0) {
      if (stoppingMs == kStopGraceMs) {
        Say("the server ignored SIGTERM; killing it");
        ::kill(pid, SIGKILL);
      }
      SleepMs(100);
      stoppingMs += 100;
    }
  }
  gServerPid = 0;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  Say(qn::Format("the server ended (status %d)", code));
  return gStopRequested && WIFSIGNALED(status) ? 0 : code;
}

int GuardAdopted(const TInstance& instance) {
  Say(qn::Format("adopting the server that answers on 127.0.0.1:%d", instance.port));
  int misses = 0;
  while (!gStopRequested && misses < 2) {
    SleepMs(1000);
    if (gStopRequested) break;
    misses = PortAnswers(instance.port) ? 0 : misses + 1;
  }
  Say(gStopRequested ? "asked to stop" : "the adopted server no longer answers");
  return 0;
}

}  // namespace

int RunGuard(const TInstance& instance, bool adopt) {
  InstallSignalHandlers();
  std::vector<std::unique_ptr<qn::platform::NamedMutex>> held;
  for (const char* name : {qn::kFb30MutexName, qn::kFb30GlobalMutexName}) {
    bool existed = false;
    held.push_back(qn::platform::NamedMutex::Create(name, false, &existed));
    if (existed) {
      Say(std::string("the mutex '") + name + "' exists: another server of the instance runs");
      return 1;
    }
  }
  qn::platform::ForceDirectories(instance.base);
  PidFile pidFile(instance.PidFile());
  return adopt ? GuardAdopted(instance) : GuardServer(instance);
}

}  // namespace fbserver30
