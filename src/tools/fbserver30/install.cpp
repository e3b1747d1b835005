#include "tools/fbserver30/install.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "firebird/fb30_server.h"
#include "platform/files.h"
#include "platform/system.h"
#include "tools/fbserver30/guard.h"
#include "tools/fbserver30/process.h"

namespace fbserver30 {

namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 20000;

void Note(const std::string& text) {
  std::printf("fbserver30: %s\n", text.c_str());
  std::fflush(stdout);
}

int Failure(const std::string& text) {
  std::fprintf(stderr, "fbserver30: %s\n", text.c_str());
  return 1;
}

// One installation at a time per base folder.
class BaseLock {
 public:
  explicit BaseLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) throw qn::EqnOsError(path + ": " + qn::platform::LastErrorText(), errno);
  }
  ~BaseLock() { ::close(fd_); }

 private:
  int fd_ = -1;
};

std::string Tail(const std::string& path, size_t lines) {
  std::string text;
  try {
    text = qn::platform::ReadFile(path);
  } catch (const std::exception&) {
    return "";
  }
  size_t p = text.size();
  while (lines-- > 0 && p > 0) {
    p = text.rfind('\n', p - 1);
    if (p == std::string::npos) return text;
  }
  return text.substr(p + 1);
}

void AppendLogHeader(const TInstance& instance) {
  char when[32];
  std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  // Root may write here into the server account's folder: no link is followed.
  const int fd = ::open(instance.LogFile().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return;
  const std::string line = qn::Format("\n==== %s starting Firebird SQL 3.0 QN on port %d\n", when, instance.port);
  if (::write(fd, line.data(), line.size()) < 0) {
  }
  ::close(fd);
}

pid_t ReadPidFile(const TInstance& instance) {
  try {
    return static_cast<pid_t>(std::stol(qn::platform::ReadFile(instance.PidFile())));
  } catch (const std::exception&) {
    return 0;
  }
}

// The process is a guard of this very instance (a pid may have been reused).
bool IsGuardOf(pid_t pid, const TInstance& instance) {
  if (!ProcessAlive(pid)) return false;
  std::vector<std::string> args = ProcessArguments(pid);
  bool guard = false, dir = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--guard") guard = true;
    if (args[i] == "--dir" && i + 1 < args.size() && args[i + 1] == instance.base) dir = true;
  }
  return guard && dir;
}

bool WaitUntilGone(pid_t pid, int timeoutMs) {
  for (int waited = 0; ProcessAlive(pid); waited += 100) {
    if (waited >= timeoutMs) return false;
    SleepMs(100);
  }
  return true;
}

int KeyOnly() {
  qn::platform::RegistryCreateKey(qn::kFb30UninstallKey);
  Note("Firebird SQL 3.0 QN is running already");
  return 0;
}

// Only this instance's own server is ever this instance: its guard (whose
// mutexes the callers asked about first) proves it. Any other program on the
// port, a Firebird server with the same login included (a developer's, bound
// to loopback, with its own security database), is a stranger: adopting it
// would hand the program's databases to a server that is not the one
// installed here. Returns the exit code of a refusal, else 0.
int PrepareOrRefuse(const TInstance& instance) {
  if (PortAnswers(instance.port))
    return Failure(
        qn::Format("port %d is taken by a program that is not this instance's server (its guard does not "
                   "run from %s); stop it first, or choose another port with QN_FB30_PORT",
                   instance.port, instance.base.c_str()));
  PrepareInstance(instance);
  return 0;
}

}  // namespace

int RunInstall(const TInstance& instance) {
  if (qn::IsFb30Running()) return KeyOnly();
  qn::platform::ForceDirectories(instance.base);
  BaseLock lock(instance.base + "/.install.lock");
  if (qn::IsFb30Running()) return KeyOnly();

  if (int refused = PrepareOrRefuse(instance)) return refused;

  AppendLogHeader(instance);
  std::vector<std::string> args = {"--guard", "--dir", instance.base, "--port", std::to_string(instance.port)};
  const pid_t guard = StartDetachedSelf(args, instance.LogFile());

  for (int waited = 0;; waited += 200) {
    int status = 0;
    if (::waitpid(guard, &status, WNOHANG) == guard)
      return Failure(qn::Format("the guard ended before the server answered on 127.0.0.1:%d; last lines of %s:\n%s",
                                instance.port, instance.LogFile().c_str(), Tail(instance.LogFile(), 20).c_str()));
    // The pid file comes last in the guard's start; --stop needs it.
    if (ReadPidFile(instance) == guard && qn::IsFb30Running() && PortAnswers(instance.port, 200)) break;
    if (waited >= kStartTimeoutMs) {
      ::kill(guard, SIGTERM);
      return Failure(qn::Format(
          "the server did not accept connections on 127.0.0.1:%d within %d s; last lines of %s:\n%s", instance.port,
          kStartTimeoutMs / 1000, instance.LogFile().c_str(), Tail(instance.LogFile(), 20).c_str()));
    }
    SleepMs(200);
  }
  qn::platform::RegistryCreateKey(qn::kFb30UninstallKey);
  Note(qn::Format("Firebird SQL 3.0 QN runs on port %d (guard pid %d, folder %s)", instance.port,
                  static_cast<int>(guard), instance.base.c_str()));
  return 0;
}

int RunService(const TInstance& instance) {
  {
    qn::platform::ForceDirectories(instance.base);
    BaseLock lock(instance.base + "/.install.lock");
    if (qn::IsFb30Running()) return Failure("Firebird SQL 3.0 QN is running already");
    if (int refused = PrepareOrRefuse(instance)) return refused;
    qn::platform::RegistryCreateKey(qn::kFb30UninstallKey);
    AppendLogHeader(instance);
  }
  return RunGuard(instance, false);
}

int RunStop(const TInstance& instance) {
  const pid_t pid = ReadPidFile(instance);
  if (pid <= 0 || !IsGuardOf(pid, instance)) {
    Note("Firebird SQL 3.0 QN is not running from " + instance.base);
    return 0;
  }
  ::kill(pid, SIGTERM);
  if (!WaitUntilGone(pid, kStopTimeoutMs)) {
    Note(qn::Format("the guard (pid %d) ignored SIGTERM; killing it", static_cast<int>(pid)));
    ::kill(pid, SIGKILL);
    if (!WaitUntilGone(pid, 5000)) return Failure(qn::Format("the guard (pid %d) does not end", static_cast<int>(pid)));
  }
  Note(qn::Format("stopped Firebird SQL 3.0 QN (guard pid %d)", static_cast<int>(pid)));
  return 0;
}

}  // namespace fbserver30
