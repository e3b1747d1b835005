// The program with its window and tray icon.
#include "main/program.h"

namespace qn {

int RunWindowed(int argc, char** argv, bool) { return RunHeadless(argc, argv); }

}  // namespace qn
