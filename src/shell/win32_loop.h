// The main thread's event loop where there is no Qt (the Windows build): a
// Win32 message loop that delivers the messages of the thread's windows,
// runs work handed over by other threads, the two backup timers, and
// Ctrl+C, Ctrl+Break and closing the console as a request to exit. The same
// shape as TqnRunLoop around a Qt event loop. Handed-over work and the
// timers go through a message-only window of the loop, so that they also
// run while a dialog or message box holds the thread in its own loop.
#pragma once

#include <cstdint>

#include "app/application.h"

struct HWND__;

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
  // Acts on a timer or an exit request of the loop's own window.
  void Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam);

 private:
  static constexpr uintptr_t kStarterTimerId = 1;
  static constexpr uintptr_t kBackupTimerId = 2;
  void SetBackupTimer(bool enabled);
  ::HWND__* Window() const;

  TqnApplication& core_;
  void* window_ = nullptr;  // the loop's message-only window
  uintptr_t starterTimer_ = 0;
  uintptr_t backupTimer_ = 0;
};

}  // namespace qn
