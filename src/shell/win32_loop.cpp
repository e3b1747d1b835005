#include "shell/win32_loop.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "shell/main_thread.h"

namespace qn {

namespace {

// Messages of the loop, posted to its own message-only window on the main
// thread. A window, not the thread's queue: the modal loops of dialogs,
// message boxes and menus drop messages that have no window, and work
// handed over meanwhile would wait for ever.
constexpr UINT kRunWork = WM_APP + 1;   // lParam: a Handover to run and complete
constexpr UINT kPostWork = WM_APP + 2;  // lParam: a std::function<void()> to run and delete
constexpr UINT kExitRequest = WM_APP + 3;

std::atomic<DWORD> gMainThread{0};
std::atomic<HWND> gLoopWindow{nullptr};

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

// Runs handed-over work; false for any other message.
bool RunOwnMessage(UINT message, LPARAM lParam) {
  if (message == kRunWork) {
    auto* h = reinterpret_cast<Handover*>(lParam);
    try {
      (*h->work)();
    } catch (...) {
      Complete(h);
      throw;
    }
    Complete(h);
    return true;
  }
  if (message == kPostWork) {
    auto* work = reinterpret_cast<std::function<void()>*>(lParam);
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

LRESULT CALLBACK LoopWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (RunOwnMessage(message, lParam)) return 0;
  // Timers and exit requests act while the loop lives, not while it ends.
  if (message == kExitRequest || message == WM_TIMER) {
    if (gLoop && gLoopWindow.load()) gLoop->Dispatch(message, wParam, lParam);
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND CreateLoopWindow() {
  static const wchar_t kClass[] = L"TqnWin32RunLoop";
  WNDCLASSW wc{};
  wc.lpfnWndProc = LoopWindowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  ::RegisterClassW(&wc);  // fails harmlessly when a loop registered it before
  return ::CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

// Posts one of the loop's messages; false when there is no loop any more.
bool PostLoopMessage(UINT message, LPARAM lParam) {
  HWND window = gLoopWindow.load();
  return window && ::PostMessageW(window, message, 0, lParam);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (gMainThread.load() == 0) return FALSE;
  PostLoopMessage(kExitRequest, 0);
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
  if (!PostLoopMessage(kRunWork, reinterpret_cast<LPARAM>(&h))) {
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
  if (!PostLoopMessage(kPostWork, reinterpret_cast<LPARAM>(heap))) {
    (*heap)();
    delete heap;
  }
}

namespace {

// Hands one message to its window: keyboard navigation of the window or
// dialog it belongs to first, then the window's own procedure.
void DeliverMessage(MSG& msg) {
  if (msg.hwnd) {
    HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    if (root && root != gLoopWindow.load() && ::IsDialogMessageW(root, &msg)) return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

}  // namespace

void ProcessMainThreadEvents() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Seen again by the loop, which then ends.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    DeliverMessage(msg);
  }
}

void QuitMainThreadLoop() {
  const DWORD main = gMainThread.load();
  if (main != 0) ::PostThreadMessageA(main, WM_QUIT, 0, 0);
}

HWND TqnWin32RunLoop::Window() const { return static_cast<HWND>(window_); }

TqnWin32RunLoop::TqnWin32RunLoop(TqnApplication& core) : core_(core) {
  // The thread gets its message queue before anyone posts to it.
  MSG msg;
  ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  window_ = CreateLoopWindow();
  gLoop = this;
  gLoopWindow = Window();
  gMainThread = ::GetCurrentThreadId();
  core_.SetBackupTimerControl([this](bool enabled) { SetBackupTimer(enabled); });
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

TqnWin32RunLoop::~TqnWin32RunLoop() {
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  core_.SetBackupTimerControl({});
  if (starterTimer_) ::KillTimer(Window(), starterTimer_);
  if (backupTimer_) ::KillTimer(Window(), backupTimer_);
  // Work handed over from now on runs on the thread that hands it over;
  // what is queued already runs now.
  gMainThread = 0;
  gLoopWindow = nullptr;
  ProcessMainThreadEvents();
  gLoop = nullptr;
  if (window_) ::DestroyWindow(Window());
}

void TqnWin32RunLoop::StartTimers() {
  if (!starterTimer_)
    starterTimer_ = ::SetTimer(Window(), kStarterTimerId, TqnApplication::kStarterIntervalMs, nullptr);
}

void TqnWin32RunLoop::SetBackupTimer(bool enabled) {
  if (enabled && !backupTimer_)
    backupTimer_ = ::SetTimer(Window(), kBackupTimerId, TqnApplication::kBackupIntervalMs, nullptr);
  if (!enabled && backupTimer_) {
    ::KillTimer(Window(), backupTimer_);
    backupTimer_ = 0;
  }
}

void TqnWin32RunLoop::Exec() {
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) DeliverMessage(msg);
}

void TqnWin32RunLoop::Dispatch(unsigned message, uintptr_t wParam, intptr_t) {
  if (message == kExitRequest) {
    core_.ExitProgram();
    return;
  }
  if (message != WM_TIMER) return;
  if (wParam == starterTimer_ && starterTimer_) {
    ::KillTimer(Window(), starterTimer_);
    starterTimer_ = 0;
    core_.StarterTimerFired();
    SetBackupTimer(true);
  } else if (wParam == backupTimer_ && backupTimer_) {
    core_.BackupTimerFired();
  }
}

}  // namespace qn
