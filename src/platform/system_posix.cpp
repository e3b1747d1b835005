#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <thread>
#include <cstring>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"

extern char** environ;

namespace qn::platform {

std::string HostName() {
  char buf[1024];
  if (::gethostname(buf, sizeof buf) != 0) return "(unknown)";
  buf[sizeof buf - 1] = 0;
  std::string name(buf);
  return name.empty() ? "(unknown)" : name;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

uint64_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit wanted = limit;
    wanted.rlim_cur = limit.rlim_max;
    // An unlimited hard limit is not taken as it stands: the kernel's own
    // ceiling (fs.nr_open) bounds what a process may ask for.
    if (::setrlimit(RLIMIT_NOFILE, &wanted) != 0 && limit.rlim_max == RLIM_INFINITY) {
      wanted.rlim_cur = 1048576;
      ::setrlimit(RLIMIT_NOFILE, &wanted);
    }
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<uint64_t>(limit.rlim_cur);
}

DescriptorReserve::DescriptorReserve(int count) : count_(count) { Refill(); }

DescriptorReserve::~DescriptorReserve() { Release(); }

void DescriptorReserve::Release() {
  for (intptr_t fd : held_) ::close(static_cast<int>(fd));
  held_.clear();
}

void DescriptorReserve::Refill() {
  while (static_cast<int>(held_.size()) < count_) {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    held_.push_back(fd);
  }
}

DateTime SystemClock::Now() const {
  struct timeval tv;
  ::gettimeofday(&tv, nullptr);
  struct tm tm;
  ::localtime_r(&tv.tv_sec, &tm);
  DateTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.msec = static_cast<int>(tv.tv_usec / 1000);
  t.weekday = tm.tm_wday == 0 ? 7 : tm.tm_wday;
  return t;
}

namespace {

// Starts a program and waits for it: its exit code, or 128 + the signal.
int SpawnAndWait(const std::string& program, char* const* argv, char* const* envp) {
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp);
  if (rc != 0) throw EqnOsError(ErrorText(rc), rc);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw EqnOsError(LastErrorText(), errno);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int RunProcessAndWait(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> words = {KernelFileName(program)};
  for (const auto& a : args) words.push_back(KernelFileName(a));
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return SpawnAndWait(words[0], argv.data(), environ);
}

namespace {

// This process's variables, those of the same names left out, then the new ones.
std::vector<std::string> ShellEnvironment(const std::vector<std::pair<std::string, std::string>>& environment) {
  std::vector<std::string> variables;
  for (char** e = environ; *e; ++e) {
    bool replaced = false;
    for (const auto& [name, value] : environment) replaced = replaced || std::string(*e).rfind(name + "=", 0) == 0;
    if (!replaced) variables.push_back(*e);
  }
  for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> out;
  for (auto& w : words) out.push_back(w.data());
  out.push_back(nullptr);
  return out;
}

// Its exit status, or -1 while it runs.
int Reap(pid_t pid, bool wait) {
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, wait ? 0 : WNOHANG);
    if (r == pid) break;
    if (r == 0) return -1;
    if (errno != EINTR) throw EqnOsError(LastErrorText(), errno);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int RunShellCommand(const std::string& command, const std::vector<std::pair<std::string, std::string>>& environment) {
  std::vector<std::string> variables = ShellEnvironment(environment);
  std::vector<char*> envp = Pointers(variables);
  std::string shell = "/bin/sh", dashC = "-c", line = KernelFileName(command);
  char* argv[] = {shell.data(), dashC.data(), line.data(), nullptr};
  return SpawnAndWait(shell, argv, envp.data());
}

ShellCommandResult RunShellCommandBounded(const std::string& command,
                                          const std::vector<std::pair<std::string, std::string>>& environment,
                                          int timeoutSeconds, const std::atomic<bool>* stop) {
  std::vector<std::string> variables = ShellEnvironment(environment);
  std::vector<char*> envp = Pointers(variables);
  std::string shell = "/bin/sh", dashC = "-c", line = KernelFileName(command);
  char* argv[] = {shell.data(), dashC.data(), line.data(), nullptr};
  posix_spawn_file_actions_t files;
  posix_spawnattr_t attr;
  ::posix_spawn_file_actions_init(&files);
  ::posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawnattr_init(&attr);
  // A group of its own, so that what the shell starts ends with it; the
  // calling thread may block signals for its own loop, the hook must not.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) sigaddset(&defaults, s);
  ::posix_spawnattr_setpgroup(&attr, 0);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, shell.c_str(), &files, &attr, argv, envp.data());
  ::posix_spawn_file_actions_destroy(&files);
  ::posix_spawnattr_destroy(&attr);
  if (rc != 0) throw EqnOsError(ErrorText(rc), rc);
  ShellCommandResult result;
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    const int code = Reap(pid, false);
    if (code >= 0) {
      result.exitCode = code;
      return result;
    }
    if (stop && stop->load()) {
      result.stopped = true;
      break;
    }
    if (timeoutSeconds > 0 && std::chrono::steady_clock::now() - started >= std::chrono::seconds(timeoutSeconds)) {
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // SIGTERM first, for a hook that tidies up; what ignores it is killed.
  ::kill(-pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    const int code = Reap(pid, false);
    if (code >= 0) {
      ::kill(-pid, SIGKILL);  // what the shell left running in its group
      result.exitCode = code;
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-pid, SIGKILL);
  result.exitCode = Reap(pid, true);
  return result;
}

int RunAsAdministratorAndWait(const std::string& program, const std::vector<std::string>& args) {
  if (::geteuid() == 0) return RunProcessAndWait(program, args);
  // pkexec asks through the desktop's authentication agent; without a desktop
  // session there is nobody to ask.
  const char* pkexec = "/usr/bin/pkexec";
  const bool desktop = ::getenv("DISPLAY") || ::getenv("WAYLAND_DISPLAY");
  if (!desktop || ::access(pkexec, X_OK) != 0) return kNoAdministratorRights;
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  return RunProcessAndWait(pkexec, all);
}

namespace {

// QN_REGISTRY_DIR moves the key store, so that tests do not touch the machine's.
std::string RegistryFolder() {
  const char* d = ::getenv("QN_REGISTRY_DIR");
  return (d && *d) ? FromKernelFileName(d) : "/var/lib/qndbmgr-fb30/registry";
}

std::string KeyFile(const std::string& key) {
  std::string name;
  for (unsigned char c : key) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' ||
        c == '_' || c == ' ')
      name += static_cast<char>(c);
    else
      name += Format("%%%02X", c);
  }
  return JoinPath(RegistryFolder(), name);
}

}  // namespace

bool RegistryKeyExists(const std::string& key) { return FileExists(KeyFile(key)); }

void RegistryCreateKey(const std::string& key) {
  ForceDirectories(RegistryFolder());
  WriteFileReplacing(KeyFile(key), key + "\n");
}

void RegistryDeleteKey(const std::string& key) {
  if (RegistryKeyExists(key)) DeleteFile(KeyFile(key));
}

bool GetFileVersion(const std::string&, FileVersion&) { return false; }
bool GetProgramFileVersion(FileVersion&) { return false; }

void NotifyServiceManager(const std::string& state) {
  // The socket systemd names: a path, or with '@' an abstract name.
  const char* socketName = ::getenv("NOTIFY_SOCKET");
  if (!socketName || (socketName[0] != '/' && socketName[0] != '@')) return;
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  const size_t length = std::strlen(socketName);
  if (length >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socketName, length);
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const struct sockaddr*>(&address),
           static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + length));
  ::close(fd);
}

std::optional<int> RunUnderServiceManager(const std::function<int()>&, const std::function<void()>&) {
  return std::nullopt;
}

std::unique_ptr<Library> Library::Load(const std::string& path, std::string* error) {
  void* h = ::dlopen(KernelFileName(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    if (error) *error = ::dlerror();
    return nullptr;
  }
  return std::unique_ptr<Library>(new Library(h, path));
}

Library::~Library() { ::dlclose(handle_); }

void* Library::Symbol(const char* name) const { return ::dlsym(handle_, name); }

std::string ToTerminal(const std::string& cp1251) { return Win1251ToUtf8(cp1251); }

std::string FromTerminal(const std::string& text) {
  std::string cp1251;
  return Utf8ToWin1251(text, cp1251) ? cp1251 : text;
}

std::string FromCommandLine(const std::string& argument) { return FromTerminal(argument); }

}  // namespace qn::platform
