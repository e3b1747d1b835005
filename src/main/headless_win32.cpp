// The program on Windows without its window (--headless=1 and the
// service): the same start-up, servers and timers as the headless program
// on Linux, around a Win32 message loop.
#include "main/program.h"
#include "main/program_run.h"
#include "shell/win32_loop.h"

namespace qn {

int RunHeadless(int, char**, const TqnRunNotices& notices) { return RunHeadlessProgram<TqnWin32RunLoop>(notices); }

}  // namespace qn
