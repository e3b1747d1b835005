#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "app/application.h"
#include "shell/headless_ui.h"
#include "shell/main_thread.h"
#include "shell/win32_loop.h"
#include "test_support/fake_clock.h"
#include "test_support/temp_dir.h"

using namespace qn;

namespace {

constexpr UINT kPing = WM_APP + 5;
std::atomic<bool> gPinged{false};

LRESULT CALLBACK PingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPing) {
    gPinged = true;
    QuitMainThreadLoop();
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

TEST(Win32RunLoop, DeliversWindowMessagesAndRunsHandedOverWorkWhileAMessageBoxIsOpen) {
  TempDir dir;
  FakeClock clock{2026, 12, 8, 9, 30, 0};
  TqnHeadlessUi ui;
  TqnNoView view;
  TqnApplication core(dir.path(), ui, view, clock);
  TqnWin32RunLoop loop(core);
  const DWORD mainThread = ::GetCurrentThreadId();

  // A message to a window of the thread reaches its procedure.
  WNDCLASSW wc{};
  wc.lpfnWndProc = PingProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"QnPingWindow";
  ::RegisterClassW(&wc);
  HWND window =
      ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  ::PostMessageW(window, kPing, 0, 0);
  std::thread watchdog([mainThread] {
    for (int i = 0; i < 100 && !gPinged; ++i) ::Sleep(100);
    if (!gPinged) ::PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
  });
  loop.Exec();
  watchdog.join();
  EXPECT_TRUE(gPinged);
  ::DestroyWindow(window);

  // Work handed over by another thread runs while a message box holds the
  // main thread in its own loop; here it closes the box.
  // Static: the watch over the worker may outlive the test by a moment.
  static std::atomic<bool> ran{false};
  static std::atomic<bool> gaveUp{false};
  const wchar_t kCaption[] = L"QnLoopBox";
  std::thread worker([&] {
    HWND box = nullptr;
    for (int i = 0; i < 100 && !box; ++i) {
      box = ::FindWindowW(L"#32770", kCaption);
      if (!box) ::Sleep(100);
    }
    if (!box) return;
    std::thread timeout([box] {
      for (int i = 0; i < 100 && !ran; ++i) ::Sleep(100);
      if (!ran) {
        gaveUp = true;
        ::PostMessageW(box, WM_CLOSE, 0, 0);
      }
    });
    timeout.detach();
    RunOnMainThread([&, box] {
      ran = true;
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
  });
  ::MessageBoxW(nullptr, L"waiting for the worker", kCaption, MB_OK);
  EXPECT_TRUE(ran);
  if (gaveUp)
    worker.detach();  // its work was lost: it would wait for ever
  else
    worker.join();
}
