// Alerts leave from a thread of their own. A hook that hangs or a mail
// server that does not answer must hold up nothing: not the operation that
// caused the alert (nor its lock, and so the next backup), not the main
// thread that answers workstations, not the run's end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "backup/alerts.h"

namespace qn {

class TqnAlertWorker {
 public:
  // Receives each line of an alert's report (Windows-1251), on the worker.
  using Report = std::function<void(const std::string& line)>;

  TqnAlertWorker() = default;
  // Ends a command that runs, gives up mail under way, and reports the
  // alerts still waiting as not sent; then the thread is joined.
  ~TqnAlertWorker();
  TqnAlertWorker(const TqnAlertWorker&) = delete;
  TqnAlertWorker& operator=(const TqnAlertWorker&) = delete;

  // Queues one alert and returns at once; any thread.
  void Post(TqnAlertSettings settings, TqnAlert alert, Report report);
  // Waits until nothing waits or is being sent, at most timeoutMs; true
  // when that came.
  bool WaitIdle(int timeoutMs);

  // At most this many alerts wait; one more is reported as not sent.
  static constexpr size_t kMaxWaiting = 64;

 private:
  struct Job {
    TqnAlertSettings settings;
    TqnAlert alert;
    Report report;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> waiting_;
  bool sending_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;  // started with the first alert
};

}  // namespace qn
