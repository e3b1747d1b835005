// An administrator's command when no instance runs: a short-lived instance
// of this process holds the channel for the command's duration (a start
// meanwhile hands it "activate", which it answers, and other commands wait
// their turn), loads the settings, runs the command on its main thread and
// ends. Settings are saved where the operations save them. The main thread's
// event loop is Qt's, or on Windows, where this build has no Qt, a Win32
// message loop.
#ifdef _WIN32
#include "shell/win32_loop.h"
#else
#include <QCoreApplication>
#endif

#include <chrono>
#include <future>
#include <memory>

#include "app/application.h"
#include "cli/command_client.h"
#include "main/program.h"
#include "main/program_run.h"
#include "platform/files.h"
#include "platform/system.h"
#include "shell/headless_ui.h"
#include "shell/main_thread.h"

namespace qn {

namespace {

// The channel's listener may be waiting for the main thread: the main thread
// serves it while another thread takes the channel down.
void CloseChannel(std::unique_ptr<TqnIpcServer>& channel) {
  channel->SetOnMessage(nullptr);
  auto done = std::async(std::launch::async, [&channel] { channel.reset(); });
  while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) ProcessMainThreadEvents();
  done.get();
}

std::optional<TqnCommandResult> RunInOwnInstance([[maybe_unused]] int argc, [[maybe_unused]] char** argv,
                                                 const TqnCommand& command) {
#ifndef _WIN32
  QCoreApplication app(argc, argv);
#endif
  auto channel = std::make_unique<TqnIpcServer>(TqnApplication::kChannelName, RunOnMainThread);
  // Another process took the channel between the look and the claim.
  if (ListIpcInstances(TqnApplication::kChannelName).front() != channel->Slot()) {
    CloseChannel(channel);
    return std::nullopt;
  }
  platform::SystemClock clock;
  TqnHeadlessUi ui;
  TqnNoView view;
  TqnCommandResult result;
  {
    TqnApplication core(platform::ProgramFolder(), ui, view, clock);
#ifdef _WIN32
    TqnWin32RunLoop loop(core);  // this thread becomes the main thread
#endif
    // A start meanwhile learns that this instance ends soon, and waits.
    channel->SetOnMessage([](TqnIpcServer&, TqnIpcMessage& m) {
      if (m.Command() == "activate") m.SetStatus(TqnApplication::kCommandInstanceStatus);
    });
    core.SetCommandInstance(true);
    channel->Start();
    ui.SetLog([&core](const std::string& text) { core.Log().LogMessage(text); });
    core.SetChannelServer(channel.get());
    TqnRunParts parts(core, view);
    core.StartupForCommand();
    result = parts.commands.Execute(command);
    parts.commands.Close();
    // Messages that came meanwhile are answered before the channel goes.
    ProcessMainThreadEvents();
    CloseChannel(channel);
    core.SetChannelServer(nullptr);
    parts.services.Stop();
    ui.SetLog(nullptr);
  }
  return result;
}

}  // namespace

int RunCommand(int argc, char** argv, const TqnCommand& command) {
  return RunAdministratorCommand(command, [&](const TqnCommand& c) { return RunInOwnInstance(argc, argv, c); });
}

}  // namespace qn
