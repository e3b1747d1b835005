// The program with its window and tray icon.
#include <QApplication>
#include <QMessageBox>

#include "app/application.h"
#include "app/run_services.h"
#include "backup/backup_feature.h"
#include "cli/command_executor.h"
#include "gui/frm_main.h"
#include "gui/frm_service.h"
#include "gui/qt_text.h"
#include "gui/qt_user_interface.h"
#include "main/program.h"
#include "platform/files.h"
#include "platform/system.h"
#include "shell/main_thread.h"
#include "shell/run_loop.h"

namespace qn {

void ShowNotice(int argc, char** argv, const std::string& text) {
  QApplication app(argc, argv);
  QMessageBox::information(nullptr, ToQString(MessageCaption(TqnMessageKind::Information)), ToQString(text));
}

bool ShowServiceView(int argc, char** argv) {
  QApplication app(argc, argv);
  TfrmServiceView window;
  window.show();
  app.exec();
  return true;
}

int RunWindowed(int argc, char** argv, bool hidden) {
  QApplication app(argc, argv);
  TqnIpcServer& channel = StartChannelServer(RunOnMainThread);
  platform::SystemClock clock;
  // The window outlives the core: shutdown still reads its geometry and tray.
  TfrmMainQNDBMGR window;
  TqnQtUserInterface ui(window);
  TqnApplication core(platform::ProgramFolder(), ui, window, clock);
  core.SetChannelServer(&channel);
  window.Attach(core);
  TqnRunServices services(core, RunOnMainThread);
  TqnBackupFeature backup(core, services, window);
  TqnCommandExecutor commands(core, backup);
  TqnRunLoop loop(core);
  core.Startup();
  loop.StartTimers();
  window.Started(!hidden);
  app.exec();
  // Commands that come from now on wait for the next instance.
  commands.Close();
  // A start from now on finds no one answering and waits for this
  // process to end, then becomes the instance.
  channel.StopServing();
  core.Shutdown(true);
  services.Stop();
  window.Detach();
  return 0;
}

}  // namespace qn
