// Runs a piece of work in a child process whose files may not grow beyond a
// limit, so that a write fails half-way for real. Returns true when the
// work reported the failure (returned true) and the child ended normally.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

inline bool FailsUnderFileSizeLimit(rlim_t limit, const std::function<bool()>& work) {
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &lim);
    _exit(work() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
