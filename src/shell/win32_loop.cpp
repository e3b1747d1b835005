#include "shell/win32_loop.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "shell/main_thread.h"

namespace qn {

namespace {

// Messages of the loop, posted to the main thread's queue.
constexpr UINT kRunWork = WM_APP + 1;   // lParam: a Handover to run and complete
constexpr UINT kPostWork = WM_APP + 2;  // lParam: a std::function<void()> to run and delete
constexpr UINT kExitRequest = WM_APP + 3;

std::atomic<DWORD> gMainThread{0};

// Work another thread waits for.
struct Handover {
  const std::function<void()>* work;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

void Complete(Handover* h) {
  std::lock_guard<std::mutex> lock(h->mutex);
  h->finished = true;
  h->done.notify_all();
}

// Runs one of the loop's own messages; false for any other message.
bool RunOwnMessage(const MSG& msg) {
  if (msg.message == kRunWork) {
    auto* h = reinterpret_cast<Handover*>(msg.lParam);
    try {
      (*h->work)();
    } catch (...) {
      Complete(h);
      throw;
    }
    Complete(h);
    return true;
  }
  if (msg.message == kPostWork) {
    auto* work = reinterpret_cast<std::function<void()>*>(msg.lParam);
    try {
      (*work)();
    } catch (...) {
      delete work;
      throw;
    }
    delete work;
    return true;
  }
  return false;
}

TqnWin32RunLoop* gLoop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  const DWORD main = gMainThread.load();
  if (main == 0) return FALSE;
  ::PostThreadMessageA(main, kExitRequest, 0, 0);
  // Closing the console ends the process as soon as this returns: the
  // orderly shutdown gets a few seconds first.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) ::Sleep(5000);
  return TRUE;
}

}  // namespace

void RunOnMainThread(const std::function<void()>& work) {
  const DWORD main = gMainThread.load();
  if (main == 0 || ::GetCurrentThreadId() == main) {
    work();
    return;
  }
  Handover h;
  h.work = &work;
  if (!::PostThreadMessageA(main, kRunWork, 0, reinterpret_cast<LPARAM>(&h))) {
    work();  // no main thread queue any more: the run is over
    return;
  }
  std::unique_lock<std::mutex> lock(h.mutex);
  h.done.wait(lock, [&] { return h.finished; });
}

void PostToMainThread(std::function<void()> work) {
  const DWORD main = gMainThread.load();
  if (main == 0) {
    work();
    return;
  }
  auto* heap = new std::function<void()>(std::move(work));
  if (!::PostThreadMessageA(main, kPostWork, 0, reinterpret_cast<LPARAM>(heap))) {
    (*heap)();
    delete heap;
  }
}

void ProcessMainThreadEvents() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Seen again by the loop, which then ends.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (gLoop && msg.hwnd == nullptr) {
      // Timers and exit requests act while the main thread waits, as
      // they would in a Qt loop.
      gLoop->Dispatch(msg.message, msg.wParam, msg.lParam);
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

void QuitMainThreadLoop() {
  const DWORD main = gMainThread.load();
  if (main != 0) ::PostThreadMessageA(main, WM_QUIT, 0, 0);
}

TqnWin32RunLoop::TqnWin32RunLoop(TqnApplication& core) : core_(core) {
  // The thread gets its message queue before anyone posts to it.
  MSG msg;
  ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  gMainThread = ::GetCurrentThreadId();
  gLoop = this;
  core_.SetBackupTimerControl([this](bool enabled) { SetBackupTimer(enabled); });
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

TqnWin32RunLoop::~TqnWin32RunLoop() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  core_.SetBackupTimerControl({});
  if (starterTimer_) ::KillTimer(nullptr, starterTimer_);
  if (backupTimer_) ::KillTimer(nullptr, backupTimer_);
  gLoop = nullptr;
  // Work handed over from now on runs on the thread that hands it over.
  gMainThread = 0;
  ProcessMainThreadEvents();
}

void TqnWin32RunLoop::StartTimers() {
  if (!starterTimer_) starterTimer_ = ::SetTimer(nullptr, 0, TqnApplication::kStarterIntervalMs, nullptr);
}

void TqnWin32RunLoop::SetBackupTimer(bool enabled) {
  if (enabled && !backupTimer_) backupTimer_ = ::SetTimer(nullptr, 0, TqnApplication::kBackupIntervalMs, nullptr);
  if (!enabled && backupTimer_) {
    ::KillTimer(nullptr, backupTimer_);
    backupTimer_ = 0;
  }
}

void TqnWin32RunLoop::Exec() {
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) Dispatch(msg.message, msg.wParam, msg.lParam);
}

void TqnWin32RunLoop::Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam) {
  MSG msg{};
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  if (RunOwnMessage(msg)) return;
  if (message == kExitRequest) {
    core_.ExitProgram();
    return;
  }
  if (message != WM_TIMER) return;
  if (wParam == starterTimer_ && starterTimer_) {
    ::KillTimer(nullptr, starterTimer_);
    starterTimer_ = 0;
    core_.StarterTimerFired();
    SetBackupTimer(true);
  } else if (wParam == backupTimer_ && backupTimer_) {
    core_.BackupTimerFired();
  }
}

}  // namespace qn
