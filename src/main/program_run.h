// One run of the program around its core, held once for every way it runs:
// with the Qt window, headless on Linux (a desktop without a display, or
// the system's service), headless on Windows, and a short-lived instance
// for one administrator's command.
//
// A run makes the core, the main thread's event loop, the instance
// channel's server, then the run services, the backup feature and the
// command executor (TqnRunParts); starts up, runs the loop until the core
// exits, and shuts down in the reverse order. What differs between the ways
// is the skin (TqnRunSkin: the person's interface, the window and its
// hooks) and the loop (Qt's TqnRunLoop or the Win32 TqnWin32RunLoop: made
// with the core, StartTimers(), Exec()).
#pragma once

#include <functional>
#include <memory>

#include "app/application.h"
#include "app/main_view.h"
#include "app/run_services.h"
#include "app/user_interface.h"
#include "backup/backup_feature.h"
#include "cli/command_executor.h"
#include "main/program.h"

namespace qn {

// What every run builds around its core, in this order: the backup feature
// plugs itself into the core and the services, the executor takes both.
struct TqnRunParts {
  TqnRunParts(TqnApplication& core, IqnMainView& view);
  TqnRunServices services;
  TqnBackupFeature backup;
  TqnCommandExecutor commands;
};

// How a run shows itself.
struct TqnRunSkin {
  IqnUserInterface* ui = nullptr;
  IqnMainView* view = nullptr;
  // The core is made, start-up has not begun (a window attaches to it, the
  // headless interface takes the log).
  std::function<void(TqnApplication&)> attach;
  // Start-up is done and the timers run (a window shows, a service manager
  // hears that the program is ready).
  std::function<void()> started;
  // The loop has ended; shutdown follows.
  std::function<void()> stopping;
  // Shutdown is done; the core goes next (a window detaches).
  std::function<void()> detach;
  // A window saves its geometry at shutdown.
  bool saveWindowState = false;
};

// The main thread's event loop of a run, with the backup timers.
class IqnRunLoop {
 public:
  virtual ~IqnRunLoop() = default;
  virtual void StartTimers() = 0;
  virtual void Exec() = 0;
};

template <class Loop>
class TqnRunLoopOf : public IqnRunLoop {
 public:
  explicit TqnRunLoopOf(TqnApplication& core) : loop_(core) {}
  void StartTimers() override { loop_.StartTimers(); }
  void Exec() override { loop_.Exec(); }

 private:
  Loop loop_;
};

using TqnRunLoopFactory = std::function<std::unique_ptr<IqnRunLoop>(TqnApplication&)>;

// The run; returns the exit code.
int RunProgramWith(const TqnRunSkin& skin, const TqnRunLoopFactory& makeLoop);

template <class Loop>
int RunProgram(const TqnRunSkin& skin) {
  return RunProgramWith(skin, [](TqnApplication& core) { return std::make_unique<TqnRunLoopOf<Loop>>(core); });
}

// The skin of a run with a main window (Qt's or Win32's: Attach, Started,
// Detach) and its user interface; the window outlives the run.
template <class Window>
TqnRunSkin WindowSkin(Window& window, IqnUserInterface& ui, bool hidden) {
  TqnRunSkin skin;
  skin.ui = &ui;
  skin.view = &window;
  skin.attach = [&window](TqnApplication& core) { window.Attach(core); };
  skin.started = [&window, hidden] { window.Started(!hidden); };
  skin.detach = [&window] { window.Detach(); };
  skin.saveWindowState = true;
  return skin;
}

// A run without a window: messages and questions go to the log (questions
// take their default answer); a service manager hears of start and stop,
// and so do the notices.
int RunHeadlessWith(const TqnRunNotices& notices, const TqnRunLoopFactory& makeLoop);

template <class Loop>
int RunHeadlessProgram(const TqnRunNotices& notices) {
  return RunHeadlessWith(notices, [](TqnApplication& core) { return std::make_unique<TqnRunLoopOf<Loop>>(core); });
}

}  // namespace qn
