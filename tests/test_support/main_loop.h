// A minimal main-thread loop for tests: other threads hand it work and wait
// until the thread that runs the loop has done it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>

class TestMainLoop {
 public:
  // Called from any thread; returns when the loop thread has run the work.
  void RunAndWait(const std::function<void()>& work) {
    std::promise<void> done;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back([&] {
        work();
        done.set_value();
      });
    }
    cv_.notify_all();
    done.get_future().wait();
  }
  // Runs queued work until Quit() or until the predicate becomes true.
  void Run(const std::function<bool()>& until = [] { return false; }) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_ && !until()) {
      if (queue_.empty()) {
        cv_.wait_for(lock, std::chrono::milliseconds(10));
        continue;
      }
      auto job = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }
  void Quit() {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  bool quit_ = false;
};
