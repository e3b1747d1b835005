#include "backup/alert_worker.h"

#include <chrono>

#include "base/text.h"

namespace qn {

TqnAlertWorker::~TqnAlertWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (Job& job : waiting_) job.report(Win1251("Оповещение не отправлено: программа завершает работу"));
}

void TqnAlertWorker::Post(TqnAlertSettings settings, TqnAlert alert, Report report) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stop_ && waiting_.size() < kMaxWaiting) {
      waiting_.push_back({std::move(settings), std::move(alert), std::move(report)});
      if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
      changed_.notify_all();
      return;
    }
  }
  report(Win1251("Оповещение не отправлено: слишком много оповещений ждут отправки"));
}

bool TqnAlertWorker::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return waiting_.empty() && !sending_; });
}

void TqnAlertWorker::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
    if (stop_) return;
    Job job = std::move(waiting_.front());
    waiting_.pop_front();
    sending_ = true;
    lock.unlock();
    TqnAlertReport report;
    try {
      report = SendAlert(job.settings, job.alert, &stop_);
    } catch (const std::exception& e) {
      report.lines.push_back(Win1251("Оповещение не отправлено: ") + e.what());
    }
    for (const std::string& line : report.lines) job.report(line);
    lock.lock();
    sending_ = false;
    changed_.notify_all();
  }
}

}  // namespace qn
