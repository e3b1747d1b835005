// Runs the real program executable, copied alone into a fresh program
// folder, with its named objects in a namespace of the test's own.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support/listening_port.h"
#include "test_support/temp_dir.h"

extern char** environ;

class ProgramProcess {
 public:
  // Starts `folder/qndbmgr args...` with extra environment entries.
  ProgramProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envCopy = env;
    for (char** e = environ; *e; ++e) envCopy.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envCopy) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  }
  ~ProgramProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }
  void Signal(int sig) { kill(pid_, sig); }
  // Exit code, 128 + signal, or -1 when it is still running after timeoutMs.
  int Wait(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      }
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Copies the built executable alone into the folder; returns its new path.
inline std::string InstallProgram(const std::string& built, const std::string& folder) {
  std::string target = folder + "/qndbmgr";
  std::filesystem::copy_file(built, target, std::filesystem::copy_options::overwrite_existing);
  return target;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// All main log files of a program folder, oldest first (a test may cross
// midnight).
inline std::string MainLog(const TempDir& dir) {
  std::string all;
  if (!std::filesystem::exists(dir.File("log"))) return all;
  for (const auto& name : TempDir::ListDir(dir.File("log")))
    if (name.rfind("log-2", 0) == 0) all += ReadAll(dir.File("log/" + name));
  return all;
}

// Polls until ready answers true; false when the time runs out first.
template <typename Ready>
bool WaitUntil(Ready ready, int timeoutMs = 20000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline bool WaitForLog(const TempDir& dir, const std::string& text, int timeoutMs = 20000) {
  return WaitUntil([&] { return MainLog(dir).find(text) != std::string::npos; }, timeoutMs);
}

// A workstation's TCP request: one line out, everything until the close in.
inline std::string TcpRequest(int port, const std::string& line) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    std::string out = line + "\r\n";
    if (write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size())) {
      char buf[4096];
      ssize_t n;
      while ((n = read(fd, buf, sizeof buf)) > 0) reply.append(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  return reply;
}
