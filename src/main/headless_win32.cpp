// The program on Windows without its window: the same start-up, servers
// and timers as the headless program on Linux, around a Win32 message loop.
#include "main/program.h"
#include "main/program_run.h"
#include "shell/win32_loop.h"

namespace qn {

int RunHeadless(int, char**, const TqnRunNotices& notices) { return RunHeadlessProgram<TqnWin32RunLoop>(notices); }

// The window program is not built for Windows yet: it runs without one.
int RunWindowed(int argc, char** argv, bool) { return RunHeadless(argc, argv); }

void ShowNotice(int, char**, const std::string&) {}  // the line on standard error is all
bool ShowServiceView(int, char**) { return false; }

}  // namespace qn
