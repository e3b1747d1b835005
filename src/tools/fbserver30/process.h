// Process and socket helpers of the Firebird 3.0 installer. Linux only: the
// installer is this platform's stand-in for the Windows setup program.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace fbserver30 {

// True when something accepts a TCP connection on 127.0.0.1:port within
// timeoutMs.
bool PortAnswers(int port, int timeoutMs = 1000);

// Runs program with args and exactly the environment env, stdin from
// inputFile ("/dev/null" when empty), stdout and stderr together into
// *output. Returns the exit code (128 + signal when killed); a program still
// running after timeoutMs (when not negative) is killed and gives 128 + 9.
// Throws qn::EqnOsError when it cannot be started.
int RunCaptured(const std::string& program, const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env, const std::string& inputFile, std::string* output,
                int timeoutMs = -1);

// Starts this executable again with args as a detached process: its own
// session and process group, stdin from /dev/null, stdout and stderr
// appended to logFile, no other descriptor of ours. Returns its pid (a child
// of the caller until the caller ends).
pid_t StartDetachedSelf(const std::vector<std::string>& args, const std::string& logFile);

// True while the process exists and is not a zombie.
bool ProcessAlive(pid_t pid);
// The arguments of a running process (argv[0] first); empty when unknown.
std::vector<std::string> ProcessArguments(pid_t pid);

// An environment block for execve from a map.
std::vector<std::string> EnvironmentBlock(const std::map<std::string, std::string>& env);

// Sleeps for ms milliseconds (returns early on a signal).
void SleepMs(int ms);

}  // namespace fbserver30
