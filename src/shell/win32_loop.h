// The main thread's event loop where there is no Qt (the Windows build): a
// Win32 message loop that runs work handed over by other threads, the two
// backup timers, and Ctrl+C, Ctrl+Break and closing the console as a
// request to exit. The same shape as TqnRunLoop around a Qt event loop.
#pragma once

#include <cstdint>

#include "app/application.h"

namespace qn {

class TqnWin32RunLoop {
 public:
  // Makes the calling thread the main thread.
  explicit TqnWin32RunLoop(TqnApplication& core);
  ~TqnWin32RunLoop();
  TqnWin32RunLoop(const TqnWin32RunLoop&) = delete;
  TqnWin32RunLoop& operator=(const TqnWin32RunLoop&) = delete;

  // Starts the starter timer (10 minutes, one shot) that enables the
  // backup check timer (10 seconds).
  void StartTimers();
  // Runs the loop until QuitMainThreadLoop.
  void Exec();
  // Acts on one message of the thread's queue.
  void Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam);

 private:
  void SetBackupTimer(bool enabled);

  TqnApplication& core_;
  uintptr_t starterTimer_ = 0;
  uintptr_t backupTimer_ = 0;
};

}  // namespace qn
