// Helpers for tests that need a second real process: the test executable
// starts itself again in a "child mode" registered with QN_CHILD_MODE, so
// that both sides of an exchange run the production code.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qntest {

using ChildMain = std::function<int(const std::vector<std::string>& args)>;

inline std::map<std::string, ChildMain>& ChildModes() {
  static std::map<std::string, ChildMain> modes;
  return modes;
}

struct ChildModeRegistrar {
  ChildModeRegistrar(const std::string& name, ChildMain fn) { ChildModes()[name] = std::move(fn); }
};

#define QN_CHILD_MODE(name)                                                               \
  static int ChildMode_##name(const std::vector<std::string>& args);                      \
  static ::qntest::ChildModeRegistrar childModeRegistrar_##name(#name, ChildMode_##name); \
  static int ChildMode_##name([[maybe_unused]] const std::vector<std::string>& args)

// A child process running this executable in a child mode.
class ChildProcess {
 public:
  ChildProcess(const std::string& mode, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"/proc/self/exe", "--qn-child=" + mode};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  void Kill(int sig = SIGKILL) { kill(pid_, sig); }
  // Exit code, 128 + signal when killed, -1 when it did not end in time.
  int Wait(int timeoutMs = 30000) {
    if (reaped_) return status_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int st = 0;
      pid_t r = waitpid(pid_, &st, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return status_;
      }
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

// Waits until a file exists; false after the time-out.
inline bool WaitForFile(const std::string& path, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Creates an empty file (a readiness mark of a child).
inline void TouchFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  if (f) fclose(f);
}

// A name that no other test process uses at the same time.
inline std::string UniqueName(const std::string& base) {
  return base + "." + std::to_string(getpid()) + "." +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
}

}  // namespace qntest
