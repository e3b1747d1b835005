#include "main/program_run.h"

#include <atomic>
#include <functional>

#include "main/program.h"
#include "platform/files.h"
#include "platform/system.h"
#include "shell/headless_ui.h"
#include "shell/headless_view.h"
#include "shell/main_thread.h"

namespace qn {

namespace {
// The core of the run that the main thread is running; read and written on
// the main thread only, except that RequestProgramExit asks whether one runs.
std::atomic<TqnApplication*> gRunning{nullptr};
// An exit was asked for; a run that has not reached its loop yet ends as
// soon as its start-up is done.
std::atomic<bool> gExitRequested{false};
// The shutdown of the run in its loop; main thread only.
const std::function<void()>* gShutdown = nullptr;
}  // namespace

TqnRunParts::TqnRunParts(TqnApplication& core, IqnMainView& view)
    : services(core, RunOnMainThread), backup(core, services, view), commands(core, backup) {}

int RunProgramWith(const TqnRunSkin& skin, const TqnRunLoopFactory& makeLoop) {
  platform::SystemClock clock;
  TqnApplication core(platform::ProgramFolder(), *skin.ui, *skin.view, clock);
  // Made before the channel: where the loop is Win32's, this thread becomes
  // the main thread that the channel's work is handed to.
  std::unique_ptr<IqnRunLoop> loop = makeLoop(core);
  TqnIpcServer& channel = StartChannelServer(RunOnMainThread);
  if (skin.attach) skin.attach(core);
  core.SetChannelServer(&channel);
  {
    TqnRunParts parts(core, *skin.view);
    bool shutDown = false;
    // Once: after the loop, or from within start-up or the loop when the
    // session ends and the process may be ended before either goes on.
    const std::function<void()> shutdown = [&] {
      if (shutDown) return;
      shutDown = true;
      gShutdown = nullptr;
      gRunning = nullptr;
      if (skin.stopping) skin.stopping();
      // Commands that come from now on wait for the next instance.
      parts.commands.Close();
      // A start from now on finds no one answering and waits for this
      // process to end, then becomes the instance.
      channel.StopServing();
      core.Shutdown(skin.saveWindowState);
      parts.services.Stop();
    };
    gRunning = &core;
    // Start-up may ask a question, and the session may end while it waits.
    gShutdown = &shutdown;
    struct Forget {
      ~Forget() {
        gShutdown = nullptr;
        gRunning = nullptr;
      }
    } forget;  // also when the run ends by an exception
    core.Startup();
    if (!shutDown) {
      loop->StartTimers();
      if (skin.started) skin.started();
      if (gExitRequested) core.ExitProgram();
      // An exit during start-up (the tray's, a service's stop) came before
      // the loop could end on it.
      if (!core.Exiting()) loop->Exec();
    }
    shutdown();
  }
  if (skin.detach) skin.detach();
  return 0;
}

int RunHeadlessWith(const TqnRunNotices& notices, const TqnRunLoopFactory& makeLoop) {
  TqnHeadlessUi ui;
  TqnHeadlessView view;
  TqnRunSkin skin;
  skin.ui = &ui;
  skin.view = &view;
  skin.attach = [&ui](TqnApplication& core) {
    ui.SetLog([&core](const std::string& text) { core.Log().LogMessage(text); });
  };
  skin.started = [&notices] {
    // Started: the info servers are bound and commands are taken.
    platform::NotifyServiceManager("READY=1");
    if (notices.started) notices.started();
  };
  skin.stopping = [&notices] {
    platform::NotifyServiceManager("STOPPING=1");
    if (notices.stopping) notices.stopping();
  };
  skin.detach = [&ui] { ui.SetLog(nullptr); };
  return RunProgramWith(skin, makeLoop);
}

void FinishRunNow() {
  if (TqnApplication* core = gRunning.load()) core->ExitProgram();
  if (gShutdown) (*gShutdown)();
}

bool RequestProgramExit() {
  gExitRequested = true;
  if (!gRunning.load()) return false;
  PostToMainThread([] {
    if (TqnApplication* core = gRunning.load()) core->ExitProgram();
  });
  return true;
}

}  // namespace qn
