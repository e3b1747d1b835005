// Runs each accepted connection on a thread of its own. A thread that has
// finished its job waits a while for the next one before it ends, so a busy
// server does not pay for a new thread per request; no job ever waits for
// another to finish.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace qn {

class TqnConnectionThreads {
 public:
  // At most `limit` jobs run at once; an idle thread ends after idleMs.
  explicit TqnConnectionThreads(size_t limit, uint32_t idleMs = 30000);
  // Waits for the running jobs to end (they must return by themselves).
  ~TqnConnectionThreads();
  TqnConnectionThreads(const TqnConnectionThreads&) = delete;
  TqnConnectionThreads& operator=(const TqnConnectionThreads&) = delete;

  // Starts the job on an idle or a new thread. False, without running it,
  // when `limit` jobs are running or no thread can be had. Exceptions a job
  // throws are swallowed.
  bool Start(std::function<void()> job);
  size_t Running() const;  // jobs started and not yet ended
  size_t Threads() const;  // threads alive, idle ones included

 private:
  void Worker();
  void ReapFinished(std::unique_lock<std::mutex>& lock);

  const size_t limit_;
  const uint32_t idleMs_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  size_t busy_ = 0;     // jobs queued or running
  size_t waiting_ = 0;  // threads waiting for a job
  bool stopping_ = false;
  std::map<std::thread::id, std::thread> threads_;
  std::vector<std::thread::id> finished_;  // ended, not yet joined
};

}  // namespace qn
