#include "backup/copy_worker.h"

#include <algorithm>

namespace qn {

TqnCopyWorker::TqnCopyWorker(Copier copier, Report report, std::chrono::milliseconds firstPause,
                             std::chrono::milliseconds longestPause)
    : copier_(std::move(copier)), report_(std::move(report)), firstPause_(firstPause), longestPause_(longestPause) {}

TqnCopyWorker::~TqnCopyWorker() { Stop(nullptr); }

void TqnCopyWorker::Stop(const std::function<void()>& whileWaiting) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    waiting_.clear();
  }
  changed_.notify_all();
  if (!thread_.joinable()) return;
  while (whileWaiting && !finished_) {
    whileWaiting();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  thread_.join();
}

void TqnCopyWorker::Post(TqnCopyJob job) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stop_) return;
  std::erase_if(waiting_, [&](const Waiting& w) {
    return w.job.entry.name == job.entry.name && w.job.destination.name == job.destination.name;
  });
  waiting_.push_back({std::move(job), 0, std::chrono::steady_clock::now()});
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  changed_.notify_all();
}

bool TqnCopyWorker::WaitTried(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return !copying_ && std::all_of(waiting_.begin(), waiting_.end(), [](const Waiting& w) { return w.attempts > 0; });
  });
}

void TqnCopyWorker::Run() {
  struct Finished {
    std::atomic<bool>& flag;
    ~Finished() { flag = true; }
  } finished{finished_};
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stop_) return;
    // The copy due first; new ones are due at once, retries after their pause.
    auto next = std::min_element(waiting_.begin(), waiting_.end(),
                                 [](const Waiting& a, const Waiting& b) { return a.due < b.due; });
    if (next == waiting_.end()) {
      changed_.wait(lock);
      continue;
    }
    if (next->due > std::chrono::steady_clock::now()) {
      changed_.wait_until(lock, next->due);
      continue;
    }
    Waiting current = std::move(*next);
    waiting_.erase(next);
    copying_ = true;
    lock.unlock();
    TqnCopyResult result;
    try {
      result = copier_(current.job, stop_);
    } catch (const std::exception& e) {
      result.message = e.what();
    }
    ++current.attempts;
    if (!stop_) report_(current.job, result, current.attempts);
    lock.lock();
    copying_ = false;
    if (!result.ok && !stop_) {
      // Unless a newer backup's copy came meanwhile.
      const bool superseded = std::any_of(waiting_.begin(), waiting_.end(), [&](const Waiting& w) {
        return w.job.entry.name == current.job.entry.name && w.job.destination.name == current.job.destination.name;
      });
      if (!superseded) {
        auto pause = firstPause_;
        for (int i = 1; i < current.attempts && pause < longestPause_; ++i) pause *= 2;
        current.due = std::chrono::steady_clock::now() + std::min(pause, longestPause_);
        waiting_.push_back(std::move(current));
      }
    }
    changed_.notify_all();
  }
}

}  // namespace qn
