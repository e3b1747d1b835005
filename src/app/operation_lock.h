// The lock of the run's long operations. Backups, restores, dump loads and
// database creation all work on the one main connection (its library,
// database name, user and password), so only one of them may run at a
// time, from whatever thread it comes: the main thread (buttons, the
// scheduler, UDP requests) or a TCP connection thread (remote backups).
//
// On the main thread a waiting operation keeps the window served; a second
// operation started there while one already runs on it (through the
// events its progress handlers process) is refused with "Архивация или
// разархивация уже выполняется". Other threads simply wait, until the run
// closes the lock at shutdown: waiters then fail instead of holding the
// exit for the length of another backup.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "app/user_interface.h"

namespace qn {

class TqnOperationLock {
 public:
  // Construct on the main thread; ui (may be null) serves the window while
  // the main thread waits.
  explicit TqnOperationLock(IqnUserInterface* ui = nullptr);
  TqnOperationLock(const TqnOperationLock&) = delete;
  TqnOperationLock& operator=(const TqnOperationLock&) = delete;

  // Told on the main thread when an operation of the main thread begins
  // (true) and ends (false): the window shows the run as busy.
  void SetBusyObserver(std::function<void(bool busy)> observer) { observer_ = std::move(observer); }
  // An operation runs now, on any thread.
  bool Busy() const { return owner_.load() != std::thread::id(); }
  // The calling thread runs the operation now.
  bool HeldByThisThread() const { return owner_.load() == std::this_thread::get_id(); }
  // From now on, threads other than the main one that wait or come fail
  // with "the program is shutting down"; a running operation goes on.
  void Close() { closed_ = true; }
  bool OnMainThread() const { return std::this_thread::get_id() == mainThread_; }

  // Holds the lock for one operation; throws as described above.
  class Hold {
   public:
    explicit Hold(TqnOperationLock& lock);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    TqnOperationLock& lock_;
    bool observed_ = false;
  };

 private:
  IqnUserInterface* ui_;
  std::thread::id mainThread_;
  std::timed_mutex mutex_;
  std::atomic<std::thread::id> owner_{};
  std::atomic<bool> closed_{false};
  std::function<void(bool)> observer_;
};

}  // namespace qn
