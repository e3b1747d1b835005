// The program on Windows without its window (--headless=1 and the
// service): the same start-up, servers and timers as the headless program
// on Linux, around a Win32 message loop.
#include "app/application.h"
#include "app/run_services.h"
#include "backup/backup_feature.h"
#include "cli/command_executor.h"
#include "main/program.h"
#include "platform/files.h"
#include "platform/system.h"
#include "shell/headless_ui.h"
#include "shell/headless_view.h"
#include "shell/main_thread.h"
#include "shell/win32_loop.h"

namespace qn {

int RunHeadless(int, char**) {
  platform::SystemClock clock;
  TqnHeadlessUi ui;
  TqnHeadlessView view;
  TqnApplication core(platform::ProgramFolder(), ui, view, clock);
  TqnWin32RunLoop loop(core);
  TqnIpcServer& channel = StartChannelServer(RunOnMainThread);
  ui.SetLog([&core](const std::string& text) { core.Log().LogMessage(text); });
  core.SetChannelServer(&channel);
  TqnRunServices services(core, RunOnMainThread);
  TqnBackupFeature backup(core, services, view);
  TqnCommandExecutor commands(core, backup);
  core.Startup();
  loop.StartTimers();
  loop.Exec();
  // Commands that come from now on wait for the next instance.
  commands.Close();
  // A start from now on finds no one answering and waits for this
  // process to end, then becomes the instance.
  channel.StopServing();
  core.Shutdown(false);
  services.Stop();
  return 0;
}

}  // namespace qn
