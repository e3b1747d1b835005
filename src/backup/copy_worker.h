// Copies to destinations leave from a thread of their own, after the
// backup's operation lock is released: the next backup, a restore and the
// workstations' requests never wait for an upload. A copy that fails is
// tried again after a pause that doubles each time (to a limit), until it
// succeeds or a newer backup of the entry takes its place for that
// destination.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "backup/destination_copy.h"

namespace qn {

class TqnCopyWorker {
 public:
  // Makes one copy (CopyToDestination in the program); on the worker.
  using Copier = std::function<TqnCopyResult(const TqnCopyJob& job, const std::atomic<bool>& stop)>;
  // Told of every attempt's result (attempt 1 first), on the worker.
  using Report = std::function<void(const TqnCopyJob& job, const TqnCopyResult& result, int attempt)>;

  TqnCopyWorker(Copier copier, Report report, std::chrono::milliseconds firstPause = std::chrono::minutes(1),
                std::chrono::milliseconds longestPause = std::chrono::hours(1));
  // Ends a copy under way (it leaves nothing under the backup's name) and
  // drops the waiting ones; the thread is joined.
  ~TqnCopyWorker();
  TqnCopyWorker(const TqnCopyWorker&) = delete;
  TqnCopyWorker& operator=(const TqnCopyWorker&) = delete;

  // Ends the worker as the destructor does; whileWaiting runs meanwhile
  // (the main thread serves what a report waits for there).
  void Stop(const std::function<void()>& whileWaiting);

  // Queues a copy and returns at once; any thread. One waiting for the same
  // entry and destination (a retry of an older backup) gives way to it.
  void Post(TqnCopyJob job);
  // Waits until every copy queued has been tried at least once and none is
  // under way, at most timeoutMs; true when that came.
  bool WaitTried(int timeoutMs);

 private:
  struct Waiting {
    TqnCopyJob job;
    int attempts = 0;
    std::chrono::steady_clock::time_point due;
  };
  void Run();

  Copier copier_;
  Report report_;
  const std::chrono::milliseconds firstPause_, longestPause_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Waiting> waiting_;
  bool copying_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;  // started with the first copy
};

}  // namespace qn
