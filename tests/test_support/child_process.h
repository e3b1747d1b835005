// Helpers for tests that need a second real process: the test executable
// starts itself again in a "child mode" registered with QN_CHILD_MODE, so
// that both sides of an exchange run the production code.
#pragma once

#ifdef _WIN32
#include <process.h>
#include <windows.h>
// Not the Win32 macros, but the functions of the code under test.
#undef CopyFile
#undef DeleteFile
#undef GetDriveType
#undef MoveFile
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
// Windows has no signals: a kill is TerminateProcess with the exit code a
// POSIX shell reports for a killed process, so tests read the same numbers.
#ifndef SIGKILL
#define SIGKILL 9
#endif
#else
extern char** environ;
#endif

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

#ifdef _WIN32
// A child process running this executable in a child mode.
class ChildProcess {
 public:
  ChildProcess(const std::string& mode, const std::vector<std::string>& args) {
    char self[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = Quote(self) + " " + Quote("--qn-child=" + mode);
    for (const auto& a : args) line += " " + Quote(a);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessA(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      ::CloseHandle(pi.hThread);
      process_ = pi.hProcess;
      pid_ = static_cast<int>(pi.dwProcessId);
    }
  }
  ~ChildProcess() {
    if (!process_) return;
    if (!reaped_) {
      ::TerminateProcess(process_, 128 + SIGKILL);
      ::WaitForSingleObject(process_, INFINITE);
    }
    ::CloseHandle(process_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  int Pid() const { return pid_; }
  void Kill(int sig = SIGKILL) { ::TerminateProcess(process_, 128 + sig); }
  // Exit code, 128 + signal when killed, -1 when it did not end in time.
  int Wait(int timeoutMs = 30000) {
    if (reaped_) return status_;
    if (!process_ || ::WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    reaped_ = true;
    status_ = static_cast<int>(code);
    return status_;
  }

 private:
  static std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    for (char c : arg) {
      if (c == '"') out += '\\';
      out += c;
    }
    return out + "\"";
  }
  HANDLE process_ = nullptr;
  int pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

#else
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

#endif

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
