// An administrator's command in the Windows build: help, version and the
// hand-over to a running instance work as on Linux; a short-lived instance
// of its own needs the Win32 loop to serve the channel meanwhile, which this
// build does not have yet, so without a running instance the command is
// refused with that reason.
#include "base/text.h"
#include "cli/command_client.h"
#include "main/program.h"

namespace qn {

int RunCommand(int, char**, const TqnCommand& command) {
  return RunAdministratorCommand(command, [](const TqnCommand&) {
    return std::optional<TqnCommandResult>(TqnCommandResult{
        false, Win1251("Программа не запущена: в этой сборке для Windows команды выполняет только "
                       "работающая программа")});
  });
}

}  // namespace qn
