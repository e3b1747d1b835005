#include "app/operation_lock.h"

#include "base/error.h"
#include "base/text.h"

namespace qn {

namespace {
constexpr std::chrono::milliseconds kWaitSlice{20};
}

TqnOperationLock::TqnOperationLock(IqnUserInterface* ui) : ui_(ui), mainThread_(std::this_thread::get_id()) {}

TqnOperationLock::Hold::Hold(TqnOperationLock& lock) : lock_(lock) {
  if (lock_.owner_.load() == std::this_thread::get_id())
    throw Exception(Win1251("Архивация или разархивация уже выполняется"));
  const bool main = lock_.OnMainThread();
  while (!lock_.mutex_.try_lock_for(kWaitSlice)) {
    if (main) {
      if (lock_.ui_) lock_.ui_->ProcessEvents();
      // The events just served may have started an operation of this
      // thread, which has ended by now; nothing else to do but wait on.
    } else if (lock_.closed_) {
      throw Exception("the program is shutting down");
    }
  }
  if (!main && lock_.closed_) {
    lock_.mutex_.unlock();
    throw Exception("the program is shutting down");
  }
  lock_.owner_ = std::this_thread::get_id();
  if (main && lock_.observer_) {
    observed_ = true;
    try {
      lock_.observer_(true);
    } catch (...) {
      lock_.owner_ = std::thread::id();
      lock_.mutex_.unlock();
      throw;
    }
  }
}

TqnOperationLock::Hold::~Hold() {
  lock_.owner_ = std::thread::id();
  lock_.mutex_.unlock();
  if (observed_) {
    try {
      lock_.observer_(false);
    } catch (...) {
      // Showing the end of the operation must not replace its outcome.
    }
  }
}

}  // namespace qn
