// The program with its window and tray icon.
#include <QApplication>
#include <QMessageBox>

#include "gui/frm_main.h"
#include "gui/frm_service.h"
#include "gui/qt_text.h"
#include "gui/qt_user_interface.h"
#include "main/program.h"
#include "main/program_run.h"
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
  // The window outlives the core: shutdown still reads its geometry and tray.
  TfrmMainQNDBMGR window;
  TqnQtUserInterface ui(window);
  return RunProgram<TqnRunLoop>(WindowSkin(window, ui, hidden));
}

}  // namespace qn
