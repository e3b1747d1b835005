// The program without a display: the same start-up, servers and timers as
// the window program, with no window and no tray, around Qt's event loop.
#include <QCoreApplication>

#include "main/program.h"
#include "main/program_run.h"
#include "shell/run_loop.h"

namespace qn {

int RunHeadless(int argc, char** argv, const TqnRunNotices& notices) {
  QCoreApplication app(argc, argv);
  return RunHeadlessProgram<TqnRunLoop>(notices);
}

}  // namespace qn
