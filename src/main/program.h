// The program's entry steps shared by both ways of running: the
// single-instance rule and the choice between the window and headless.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "ipc/channel.h"

namespace qn {

// The machine's service instance ("--service=1") serves the machine-wide
// channel; every other run serves its user's.
void SetServiceRun(bool service);

// True when the machine's service instance runs.
bool ServiceRunsHere();
// Says that the service looks after the databases here and returns the
// exit code, 0. Who may reach the service gets, on a desktop, the window of
// its register with backup and restore through it; otherwise a box with a
// window, a line on standard error without one; nothing but the line when
// the start was hidden, as an autostart at login is.
int TellServiceRuns(int argc, char** argv, bool quiet);
// When someone other than the system holds a name of the service's channel,
// says so (standard error, and a box unless quiet): such a name keeps the
// service from taking its place or is meant to pass as it.
void TellOfPlantedServiceName(int argc, char** argv, bool quiet);

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

// "--headless=1", or (on Linux) no display to show a window on.
bool WantsHeadless(const std::vector<std::string>& args);

// An administrator's command (--help, --list, --backup ...): handed to the
// running instance or run by a short-lived one; returns the exit code.
int RunCommand(int argc, char** argv, const TqnCommand& command);

// What a headless run tells whoever started it, on the main thread: its
// start-up is done (the info servers listen, commands are taken); its loop
// has ended and the orderly shutdown begins.
struct TqnRunNotices {
  std::function<void()> started;
  std::function<void()> stopping;
};
int RunHeadless(int argc, char** argv, const TqnRunNotices& notices = {});
// The service's run under a service manager: a running instance of the
// service takes the start over, else the headless run. Nobody reads
// standard error there: what ends the run with an error is written to the
// day's log first, then thrown on (the manager hears the exit code).
int RunService(int argc, char** argv);
// Any thread: asks the running program to exit, as its tray menu's "Выход"
// does (no question; settings saved, servers stopped). A run that has not
// begun yet, or is still starting up, ends as soon as its start-up is done.
// True when a run was under way in this process.
bool RequestProgramExit();
// Main thread, from within the run (a question of its start-up, its
// loop): the exit and the orderly shutdown, done before this returns (the
// end of a Windows session, after which the process may be ended at once);
// the run then ends without a second shutdown. Nothing when no run is
// under way.
void FinishRunNow();
// An information box with the text (Windows-1251), where there is a window.
void ShowNotice(int argc, char** argv, const std::string& text);
// The window of the service's register, its backup and restore, where there
// is a window; false when there is none.
bool ShowServiceView(int argc, char** argv);
int RunWindowed(int argc, char** argv, bool hidden);

}  // namespace qn
