#include "tools/fbserver30/process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"

extern char** environ;

namespace fbserver30 {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what, int code) {
  throw qn::EqnOsError(what + ": " + qn::platform::ErrorText(code), code);
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Closes every descriptor above 2 except keep (in a child before exec).
void CloseOtherDescriptors(int keep) {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) {
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != keep) ::close(fd);
    return;
  }
  std::vector<int> fds;
  const int own = ::dirfd(dir);
  while (struct dirent* e = ::readdir(dir)) {
    int fd = std::atoi(e->d_name);
    if (fd > 2 && fd != own && fd != keep) fds.push_back(fd);
  }
  ::closedir(dir);
  for (int fd : fds) ::close(fd);
}

int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Reports a failed exec of the child through a close-on-exec pipe: the
// parent reads the errno, or end-of-file when exec succeeded.
int ReadExecError(int fd) {
  int code = 0;
  ssize_t n;
  while ((n = ::read(fd, &code, sizeof code)) < 0 && errno == EINTR) {
  }
  ::close(fd);
  return n == static_cast<ssize_t>(sizeof code) ? code : 0;
}

void WriteExecErrorAndExit(int fd) {
  int code = errno;
  ssize_t ignored = ::write(fd, &code, sizeof code);
  (void)ignored;
  ::_exit(127);
}

}  // namespace

bool PortAnswers(int port, int timeoutMs) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    ok = true;
  } else if (errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, timeoutMs) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
  }
  ::close(fd);
  return ok;
}

std::vector<std::string> EnvironmentBlock(const std::map<std::string, std::string>& env) {
  std::vector<std::string> out;
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

int RunCaptured(const std::string& program, const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env, const std::string& inputFile, std::string* output,
                int timeoutMs) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> envBlock = EnvironmentBlock(env);
  auto argp = Pointers(argv);
  auto envp = Pointers(envBlock);
  const std::string input = inputFile.empty() ? "/dev/null" : inputFile;

  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) ThrowErrno("pipe", errno);
  if (::pipe2(err, O_CLOEXEC) != 0) {
    int e = errno;
    ::close(out[0]);
    ::close(out[1]);
    ThrowErrno("pipe", e);
  }
  pid_t pid = ::fork();
  if (pid < 0) {
    int e = errno;
    for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
    ThrowErrno("fork", e);
  }
  if (pid == 0) {
    int in = ::open(input.c_str(), O_RDONLY);
    if (in < 0) WriteExecErrorAndExit(err[1]);
    ::dup2(in, 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::execve(program.c_str(), argp.data(), envp.data());
    WriteExecErrorAndExit(err[1]);
  }
  ::close(out[1]);
  ::close(err[1]);
  std::string text;
  char buf[4096];
  timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      timespec now;
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
      wait = elapsed >= timeoutMs ? 0 : static_cast<int>(timeoutMs - elapsed);
    }
    pollfd p{out[0], POLLIN, 0};
    int r = ::poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) {
      ::kill(pid, SIGKILL);  // the output so far is kept
      break;
    }
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(out[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (int code = ReadExecError(err[0])) ThrowErrno("cannot run " + program, code);
  if (output) *output = text;
  return ExitCode(status);
}

pid_t StartDetachedSelf(const std::vector<std::string>& args, const std::string& logFile) {
  // Started through /proc/self/exe, which stays right even when the file has
  // been replaced meanwhile; argv[0] names the file for people reading ps.
  char self[4096];
  ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::vector<std::string> argv = {len > 0 ? std::string(self, static_cast<size_t>(len)) : "fbserver30"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto argp = Pointers(argv);

  int err[2];
  if (::pipe2(err, O_CLOEXEC) != 0) ThrowErrno("pipe", errno);
  pid_t pid = ::fork();
  if (pid < 0) {
    int e = errno;
    ::close(err[0]);
    ::close(err[1]);
    ThrowErrno("fork", e);
  }
  if (pid == 0) {
    ::setsid();
    int in = ::open("/dev/null", O_RDONLY);
    // The instance folder may be the server account's: a link there is not followed.
    int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0644);
    if (in < 0 || log < 0) WriteExecErrorAndExit(err[1]);
    ::dup2(in, 0);
    ::dup2(log, 1);
    ::dup2(log, 2);
    // A caller's pipe left open in a long-lived process would keep that
    // caller waiting for its end.
    CloseOtherDescriptors(err[1]);
    ::execve("/proc/self/exe", argp.data(), environ);
    WriteExecErrorAndExit(err[1]);
  }
  ::close(err[1]);
  if (int code = ReadExecError(err[0])) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ThrowErrno("cannot start the guard", code);
  }
  return pid;
}

bool ProcessAlive(pid_t pid) {
  if (pid <= 0 || ::kill(pid, 0) != 0) return false;
  std::string stat;
  try {
    stat = qn::platform::ReadFile(qn::Format("/proc/%d/stat", static_cast<int>(pid)));
  } catch (const std::exception&) {
    return false;
  }
  // "pid (name) S ...": the state follows the last ')'.
  size_t p = stat.rfind(')');
  return p != std::string::npos && p + 2 < stat.size() && stat[p + 2] != 'Z' && stat[p + 2] != 'X';
}

std::vector<std::string> ProcessArguments(pid_t pid) {
  std::vector<std::string> args;
  std::string raw;
  try {
    raw = qn::platform::ReadFile(qn::Format("/proc/%d/cmdline", static_cast<int>(pid)));
  } catch (const std::exception&) {
    return args;
  }
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    args.push_back(raw.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

void SleepMs(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  ::nanosleep(&ts, nullptr);
}

}  // namespace fbserver30
