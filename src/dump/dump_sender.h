// The thread that sends a load's blocks, so that the server stores one
// block while the loader makes the next.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "firebird/fb_statement.h"

namespace qn {

// Executes statements one after the other, in the order started, on a
// thread of its own: the next one starts as soon as the one before returns,
// without waiting for the caller. After a failure the statements started
// behind it are not executed, until the caller has taken every outcome.
class TqnBlockSender {
 public:
  struct Outcome {
    bool ran = false;          // false: skipped after a failure before it
    std::exception_ptr error;  // the failure of one that ran
  };

  TqnBlockSender() : thread_([this] { Serve(); }) {}
  ~TqnBlockSender() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  void Start(TqnFbStatement& statement) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.emplace_back().statement = &statement;
    }
    changed_.notify_all();
  }
  // The statements started and not yet executed are skipped.
  void SkipQueued() {
    std::lock_guard<std::mutex> lock(mutex_);
    failed_ = true;
  }
  // Waits for the oldest statement started and not yet taken; its outcome.
  Outcome TakeOldest() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.front().state == State::Done; });
    Outcome outcome = std::move(queue_.front().outcome);
    queue_.pop_front();
    if (queue_.empty()) failed_ = false;
    return outcome;
  }

 private:
  enum class State { Queued, Running, Done };
  struct Entry {
    TqnFbStatement* statement;
    State state = State::Queued;
    Outcome outcome;
  };

  void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      Entry* next = nullptr;
      changed_.wait(lock, [&] {
        for (Entry& entry : queue_)
          if (entry.state == State::Queued) {
            next = &entry;
            break;
          }
        return stop_ || next;
      });
      if (stop_) return;
      if (failed_) {
        next->state = State::Done;
        changed_.notify_all();
        continue;
      }
      next->state = State::Running;
      TqnFbStatement* statement = next->statement;
      lock.unlock();
      Outcome outcome{true, nullptr};
      try {
        statement->Execute();
      } catch (...) {
        outcome.error = std::current_exception();
      }
      lock.lock();
      // A deque keeps its elements in place while others are added behind.
      next->outcome = std::move(outcome);
      next->state = State::Done;
      if (next->outcome.error) failed_ = true;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Entry> queue_;
  bool failed_ = false, stop_ = false;
  std::thread thread_;
};

}  // namespace qn
