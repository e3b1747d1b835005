// The program without a display: the same start-up, servers and timers as
// the window program, with no window and no tray.
#include <QCoreApplication>

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
#include "shell/run_loop.h"

namespace qn {

int RunHeadless(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TqnIpcServer& channel = StartChannelServer(RunOnMainThread);
  platform::SystemClock clock;
  TqnHeadlessUi ui;
  TqnHeadlessView view;
  TqnApplication core(platform::ProgramFolder(), ui, view, clock);
  ui.SetLog([&core](const std::string& text) { core.Log().LogMessage(text); });
  core.SetChannelServer(&channel);
  TqnRunServices services(core, RunOnMainThread);
  TqnBackupFeature backup(core, services, view);
  TqnCommandExecutor commands(core, backup);
  TqnRunLoop loop(core);
  core.Startup();
  loop.StartTimers();
  // Started: the info servers are bound and commands are taken.
  platform::NotifyServiceManager("READY=1");
  app.exec();
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

}  // namespace qn
