// The program's entry steps shared by both ways of running: the
// single-instance rule and the choice between the window and headless.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "ipc/channel.h"

namespace qn {

// True when another instance runs under the channel: "activate" has then
// been handed to the first one found and this process must end. An
// instance that ends without answering (it was shutting down) does not
// count: the listing is asked again. Throws Exception "Невозможно создать
// канал связи между копиями программы ..." when the channel's objects
// cannot be reached at all.
bool HandOverToRunningInstance();

// The run's channel server, started; it lives until the process ends.
// Throws the same Exception as above when it cannot be created.
TqnIpcServer& StartChannelServer(TqnMainThreadRunner mainThread);

// "--headless=1", or no display to show a window on.
bool WantsHeadless(const std::vector<std::string>& args);

// An administrator's command (--help, --list, --backup ...): handed to the
// running instance or run by a short-lived one; returns the exit code.
int RunCommand(int argc, char** argv, const TqnCommand& command);

int RunHeadless(int argc, char** argv);
int RunWindowed(int argc, char** argv, bool hidden);

}  // namespace qn
