// The program on Windows with its window and tray icon.
#include <windows.h>
#include <objbase.h>

#include "gui_win32/frm_main_win32.h"
#include "gui_win32/win_text.h"
#include "gui_win32/win_user_interface.h"
#include "main/program.h"
#include "main/program_run.h"
#include "shell/win32_loop.h"

namespace qn {

namespace {

// Started from the desktop, the program got a console of its own that
// nobody reads: it goes, and only the window and the tray icon show. A
// console the program shares with the prompt it was started from stays.
void LeaveOwnConsole() {
  DWORD processes[2];
  if (::GetConsoleProcessList(processes, 2) == 1) ::FreeConsole();
}

}  // namespace

void ShowNotice(int, char**, const std::string& text) {
  ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(MessageCaption(TqnMessageKind::Information)).c_str(),
                MB_OK | MB_ICONINFORMATION);
}

// The service's register has no window of its own here: the box says what
// TellServiceRuns tells.
bool ShowServiceView(int, char**) { return false; }

int RunWindowed(int, char**, bool hidden) {
  LeaveOwnConsole();
  // The folder chooser's dialog needs COM on this thread.
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int code = 0;
  {
    // The window outlives the core: shutdown still reads its geometry and tray.
    TfrmMainWin window;
    TqnWinUserInterface ui(window);
    window.SetSessionEnd(FinishRunNow);
    code = RunProgram<TqnWin32RunLoop>(WindowSkin(window, ui, hidden));
  }
  ::CoUninitialize();
  return code;
}

}  // namespace qn
