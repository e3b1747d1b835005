// The process an administrator starts with a command: it asks the restore
// question on its own terminal, then hands the command to the running
// instance of this user, or, when none runs, has it run by a short-lived
// instance of its own; it prints progress on standard error and the result
// on standard output (UTF-8), and gives the exit code: 0 on success, 1 on
// any failure.
#pragma once

#include <functional>
#include <optional>

#include "cli/command_executor.h"
#include "cli/command_line.h"

namespace qn {

// Runs the command in an instance of this process; nothing when another
// instance took the channel first (the command is then handed to it).
using TqnOwnInstanceRunner = std::function<std::optional<TqnCommandResult>(const TqnCommand& command)>;

// What a user who may not reach the machine's service is told.
std::string ServiceOnlyMessage();

// The handling instance's latest line while a command runs (on the
// thread that waits for the answer).
using TqnServerLines = std::function<void(const std::string& line)>;

// Runs the command in the machine's service instance; nothing when no
// service runs that this user may reach.
std::optional<TqnCommandResult> RunInService(const TqnCommand& command, const TqnServerLines& onLine = {});

// Help, version and the commands; returns the exit code.
int RunAdministratorCommand(const TqnCommand& command, const TqnOwnInstanceRunner& runOwnInstance);

}  // namespace qn
