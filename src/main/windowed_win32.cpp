// The program on Windows with its window and tray icon.
#include <windows.h>
#include <objbase.h>

#include "app/application.h"
#include "app/run_services.h"
#include "backup/backup_feature.h"
#include "cli/command_executor.h"
#include "gui_win32/frm_main_win32.h"
#include "gui_win32/win_text.h"
#include "gui_win32/win_user_interface.h"
#include "main/program.h"
#include "platform/files.h"
#include "platform/system.h"
#include "shell/main_thread.h"
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
  platform::SystemClock clock;
  // The window outlives the core: shutdown still reads its geometry and tray.
  TfrmMainWin window;
  TqnWinUserInterface ui(window);
  TqnApplication core(platform::ProgramFolder(), ui, window, clock);
  TqnWin32RunLoop loop(core);
  TqnIpcServer& channel = StartChannelServer(RunOnMainThread);
  core.SetChannelServer(&channel);
  window.Attach(core);
  TqnRunServices services(core, RunOnMainThread);
  TqnBackupFeature backup(core, services, window);
  TqnCommandExecutor commands(core, backup);
  window.SetBackupAction([&backup] { backup.btnBackupClick(); });
  window.SetRestoreAction([&backup] { backup.btnRestoreClick(); });
  core.Startup();
  loop.StartTimers();
  window.Started(!hidden);
  loop.Exec();
  // Commands that come from now on wait for the next instance.
  commands.Close();
  // A start from now on finds no one answering and waits for this
  // process to end, then becomes the instance.
  channel.StopServing();
  core.Shutdown(true);
  services.Stop();
  window.Detach();
  ::CoUninitialize();
  return 0;
}

}  // namespace qn
