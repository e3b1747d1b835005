// Program entry of the Database Manager.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "firebird/fb_paths.h"
#include "main/program.h"

namespace {

int Run(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const qn::TqnCommand command = qn::ParseCommand(args);
  if (command.kind != qn::TqnCommandKind::None) return qn::RunCommand(argc, argv, command);
  if (qn::HandOverToRunningInstance()) return 0;
  if (qn::WantsHeadless(args)) return qn::RunHeadless(argc, argv);
  std::string hidden;
  return qn::RunWindowed(argc, argv, qn::GetCmdOption(args, "hidden", hidden) && hidden == "1");
}

}  // namespace

int main(int argc, char** argv) {
  int code = Run(argc, argv);
  // The run has ended in order: settings saved, logs closed, servers and
  // channel gone. Libraries may still have threads of their own (the
  // Firebird client does), which the exit-time destructors would race, so
  // the process ends here, as a Windows process ends its threads first.
  std::fflush(nullptr);
  std::_Exit(code);
}
