// Process, host and library services of the platform layer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"

namespace qn::platform {

// This machine's network name, "(unknown)" when none can be had.
std::string HostName();

uint32_t CurrentProcessId();

// Raises this process's soft limit of open files to its hard limit, as a
// server that holds many connections does (Linux desktops and services
// start programs with a soft limit of 1024). Returns the limit now in force,
// 0 where the system has no such limit (Windows).
uint64_t RaiseOpenFileLimit();

// A few descriptors held back so that a process that has run out of them
// can still do a little (take its log lock, write its log line) before it
// gives them up again. Windows has no such limit; nothing is held there.
// One thread at a time.
class DescriptorReserve {
 public:
  explicit DescriptorReserve(int count);
  ~DescriptorReserve();
  DescriptorReserve(const DescriptorReserve&) = delete;
  DescriptorReserve& operator=(const DescriptorReserve&) = delete;

  void Release();  // frees them for what comes next
  void Refill();   // holds as many again as can be had

 private:
  const int count_;
  std::vector<intptr_t> held_;
};

// The local date and time of this machine.
class SystemClock : public Clock {
 public:
  DateTime Now() const override;
};

// Starts a program with arguments and waits for it to end; returns its exit
// code. Throws EqnOsError when it cannot be started.
int RunProcessAndWait(const std::string& program, const std::vector<std::string>& args);

// Runs a command line through the system's shell (/bin/sh -c here,
// cmd.exe /c on Windows) with these variables added to this process's
// environment (values passed as given), waits for it and returns its exit
// code. Throws EqnOsError when the shell cannot be started.
int RunShellCommand(const std::string& command, const std::vector<std::pair<std::string, std::string>>& environment);

// An office's hook, bounded so that it can hold up nothing: run as
// RunShellCommand does, but with the null device as its standard input (a
// service's own input is nobody's to read), and ended with everything it
// started (its process group here, its job on Windows) once it has run for
// timeoutSeconds (0: no limit) or *stop (when given) becomes true. Throws
// EqnOsError when the shell cannot be started.
struct ShellCommandResult {
  int exitCode = 0;       // the shell's, or 128 + the signal that ended it
  bool timedOut = false;  // ended at its time limit
  bool stopped = false;   // ended because *stop became true
};
ShellCommandResult RunShellCommandBounded(const std::string& command,
                                          const std::vector<std::pair<std::string, std::string>>& environment,
                                          int timeoutSeconds, const std::atomic<bool>* stop);

// Starts a program that needs administrator rights and waits for it; returns
// its exit code. A caller without those rights goes through the desktop's
// way of asking for them (pkexec on Linux; on Windows the program's own
// manifest asks); where there is none, nothing is started and the result is
// kNoAdministratorRights. Throws EqnOsError when it cannot be started.
inline constexpr int kNoAdministratorRights = -1;
int RunAsAdministratorAndWait(const std::string& program, const std::vector<std::string>& args);

// Text crossing this process's terminal. Linux terminals read and write
// UTF-8; a Windows console has code pages of its own (866 on a Russian
// desktop), and a program's arguments come in the ANSI code page. Text that
// does not convert is taken as it is.
std::string ToTerminal(const std::string& cp1251);
std::string FromTerminal(const std::string& text);
std::string FromCommandLine(const std::string& argument);

// The registry of the platform. Linux has none: a small persistent key store
// under /var/lib stands for the machine's keys; the only question asked of it
// is whether a key exists.
bool RegistryKeyExists(const std::string& key);
void RegistryCreateKey(const std::string& key);
void RegistryDeleteKey(const std::string& key);

// Shared library file names on this platform: the file a program ships
// beside itself ("libNAME.so" here, "NAME.dll" on Windows) and the name by
// which the system's library search finds its own copy. Where the system
// offers no copy of its own (Windows), the shipped file is the only one.
#ifdef _WIN32
#define QN_LIBRARY_FILE(name) name ".dll"
#define QN_SYSTEM_LIBRARY(name, soVersion) name ".dll"
inline constexpr bool kSystemLibraryFallback = false;
#else
#define QN_LIBRARY_FILE(name) "lib" name ".so"
#define QN_SYSTEM_LIBRARY(name, soVersion) "lib" name ".so." #soVersion
inline constexpr bool kSystemLibraryFallback = true;
#endif

// The four numbers of a file's version resource. Windows programs and
// libraries carry one; false when the file has none (always here).
struct FileVersion {
  int major = 0, minor = 0, release = 0, build = 0;
};
bool GetFileVersion(const std::string& path, FileVersion& version);
// The version resource of the running program's own file.
bool GetProgramFileVersion(FileVersion& version);

// Tells the system's service manager the run's state ("READY=1",
// "STOPPING=1") when it started this process and asked to be told (systemd's
// notify socket; on Windows the Service Control Manager, while
// RunUnderServiceManager runs); nothing otherwise.
void NotifyServiceManager(const std::string& state);

// Runs `run` as this process's one service when the system's service
// manager started the process (Windows' Service Control Manager): the
// service starts pending, is running once `run` says "READY=1", and is
// stopped when `run` returns. A stop or the system's shutdown calls `stop`
// on another thread; it must make `run` end in order. Returns `run`'s exit
// code, or std::nullopt when no service manager started the process (a start
// from a console; always on POSIX, where systemd runs the program itself).
// What `run` throws is thrown here.
std::optional<int> RunUnderServiceManager(const std::function<int()>& run, const std::function<void()>& stop);

// A shared library loaded at run time by path.
class Library {
 public:
  // nullptr when the file cannot be loaded; error receives the reason.
  static std::unique_ptr<Library> Load(const std::string& path, std::string* error = nullptr);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  void* Symbol(const char* name) const;  // nullptr when missing
  const std::string& Path() const { return path_; }

 private:
  Library(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void* handle_;
  std::string path_;
};

}  // namespace qn::platform
