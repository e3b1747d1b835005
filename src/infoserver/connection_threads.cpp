#include "infoserver/connection_threads.h"

#include <chrono>
#include <system_error>

namespace qn {

TqnConnectionThreads::TqnConnectionThreads(size_t limit, uint32_t idleMs) : limit_(limit), idleMs_(idleMs) {}

TqnConnectionThreads::~TqnConnectionThreads() {
  std::map<std::thread::id, std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  // Threads still running a job finish it first; none starts a new one.
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (threads_.empty()) break;
      threads.swap(threads_);
      finished_.clear();
    }
    for (auto& [id, thread] : threads) thread.join();
    threads.clear();
  }
}

bool TqnConnectionThreads::Start(std::function<void()> job) {
  std::unique_lock<std::mutex> lock(mutex_);
  ReapFinished(lock);
  if (stopping_ || busy_ >= limit_) return false;
  jobs_.push_back(std::move(job));
  ++busy_;
  // Each waiting thread can take one of the queued jobs; beyond that a new
  // thread is needed.
  if (waiting_ >= jobs_.size()) {
    wake_.notify_one();
    return true;
  }
  try {
    std::thread thread([this] { Worker(); });
    threads_.emplace(thread.get_id(), std::move(thread));
  } catch (const std::system_error&) {
    jobs_.pop_back();
    --busy_;
    return false;
  }
  return true;
}

size_t TqnConnectionThreads::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_;
}

size_t TqnConnectionThreads::Threads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return threads_.size() - finished_.size();
}

void TqnConnectionThreads::ReapFinished(std::unique_lock<std::mutex>& lock) {
  if (finished_.empty()) return;
  std::vector<std::thread> done;
  for (const auto& id : finished_) {
    auto it = threads_.find(id);
    if (it == threads_.end()) continue;
    done.push_back(std::move(it->second));
    threads_.erase(it);
  }
  finished_.clear();
  // A finished thread has at most its last few instructions left to run.
  lock.unlock();
  for (auto& t : done) t.join();
  lock.lock();
}

void TqnConnectionThreads::Worker() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++waiting_;
    const bool got =
        wake_.wait_for(lock, std::chrono::milliseconds(idleMs_), [this] { return stopping_ || !jobs_.empty(); });
    --waiting_;
    if (!got || jobs_.empty()) break;  // idle too long, or shutting down with nothing queued
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    try {
      job();
    } catch (...) {
    }
    job = nullptr;  // the job's captures (the connection) go before the count drops
    lock.lock();
    --busy_;
  }
  finished_.push_back(std::this_thread::get_id());
}

}  // namespace qn
