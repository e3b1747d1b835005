// Program entry of the Database Manager.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "firebird/fb_paths.h"
#include "main/program.h"
#include "platform/system.h"
#include "shell/main_thread.h"

namespace {

int Run(int argc, char** argv) {
  // The info server holds a descriptor per connection (up to 4096).
  qn::platform::RaiseOpenFileLimit();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const qn::TqnCommand command = qn::ParseCommand(args);
  if (command.kind != qn::TqnCommandKind::None) return qn::RunCommand(argc, argv, command);
  std::string value;
  const bool service = qn::GetCmdOption(args, "service", value) && value == "1";
  const bool hidden = qn::GetCmdOption(args, "hidden", value) && value == "1";
  qn::SetServiceRun(service);
  // Where the system's service looks after the databases, a second register
  // and info server never run beside it.
  if (!service && qn::ServiceRunsHere()) return qn::TellServiceRuns(argc, argv, hidden || qn::WantsHeadless(args));
  if (!service) qn::TellOfPlantedServiceName(argc, argv, qn::WantsHeadless(args));
  if (service) {
    // Started by Windows' Service Control Manager, its stop and the
    // system's shutdown end the run in order, and the manager hears how
    // the run ended. Started otherwise (by systemd, from a console) it is
    // the same headless run.
    const auto code = qn::platform::RunUnderServiceManager([&] { return qn::RunService(argc, argv); },
                                                           [] { qn::QuitMainThreadLoop(); });
    if (code) return *code;
    return qn::RunService(argc, argv);
  }
  if (qn::HandOverToRunningInstance()) return 0;
  if (service || qn::WantsHeadless(args)) return qn::RunHeadless(argc, argv);
  return qn::RunWindowed(argc, argv, hidden);
}

}  // namespace

int main(int argc, char** argv) {
  int code = 1;
  try {
    code = Run(argc, argv);
  } catch (const std::exception& e) {
    // What keeps the program from starting at all (its instance channel)
    // is said, never a silent end.
    std::fprintf(stderr, "qndbmgr: %s\n", qn::platform::ToTerminal(e.what()).c_str());
  }
  // The run has ended in order: settings saved, logs closed, servers and
  // channel gone. Libraries may still have threads of their own (the
  // Firebird client does), which the exit-time destructors would race, so
  // the process ends here, as a Windows process ends its threads first.
  std::fflush(nullptr);
  std::_Exit(code);
}
