// The program on Windows, where this build has no Qt: the same start-up,
// servers and timers as the headless program on Linux, around a Win32
// message loop.
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
  // Started: the info servers are bound and commands are taken (a service
  // is running from now on, and may be stopped).
  platform::NotifyServiceManager("READY=1");
  loop.Exec();
  platform::NotifyServiceManager("STOPPING=1");
  // Commands that come from now on wait for the next instance.
  commands.Close();
  // A start from now on finds no one answering and waits for this
  // process to end, then becomes the instance.
  channel.StopServing();
  core.Shutdown(false);
  services.Stop();
  return 0;
}

// The window program is not built for Windows yet: it runs without one.
int RunWindowed(int argc, char** argv, bool) { return RunHeadless(argc, argv); }

void ShowNotice(int, char**, const std::string&) {}  // the line on standard error is all
bool ShowServiceView(int, char**) { return false; }

}  // namespace qn
