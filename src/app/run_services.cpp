#include "app/run_services.h"

#include <future>
#include <thread>

#include "app/fb30_convert.h"
#include "base/error.h"
#include "firebird/create_database.h"
#include "firebird/fb30_server.h"

namespace qn {

TqnRunServices::TqnRunServices(TqnApplication& app, TqnMainThreadRunner runner)
    : app_(app), runner_(std::move(runner)), operationLock_(&app.Ui()) {
  operationLock_.SetBusyObserver([this](bool busy) { app_.SetOperationRunning(busy); });
  TqnStartupHooks hooks;
  hooks.startInfoServers = [this] { StartInfoServers(); };
  hooks.checkFb30Server = [this] { CheckFb30Server(app_); };
  app_.SetStartupHooks(std::move(hooks));
  app_.SetDatabaseCreator([this](TqnNode& entry) { CreateEntryDatabase(entry); });
}

TqnRunServices::~TqnRunServices() { Stop(); }

void TqnRunServices::StartInfoServers() {
  TqnInfoContext ctx;
  ctx.packetKey = app_.PacketKey();
  ctx.instanceNumber = app_.InstanceNumber();
  ctx.address = app_.AddressContext();
  ctx.log = &app_.Log();
  ctx.pane = &app_.Pane();
  ctx.clock = &app_.GetClock();
  ctx.readSettings = [this](const std::function<void(const TqnNode&)>& fn) { app_.Settings().Read(fn); };
  ctx.isFb30Running = IsFb30Running;
  ctx.runFb30ConvertCommand = [this](const std::vector<std::string>& words) -> std::string {
    // Once the run is ending the main thread no longer takes work: no reply.
    if (stopping_) throw Exception("the program is shutting down");
    return RunFb30ConvertCommand(runner_, app_, words.empty() ? "" : words[0], words);
  };
  ctx.performBackup = performBackup_;
  ctx.normalizeBackupFolder = normalizeBackupFolder_;
  TqnInfoServersOptions options;
  options.programFolder = app_.ProgramFolder();
  options.runner = runner_;
  servers_ = qn::StartInfoServers(ctx, options);
}

void TqnRunServices::Stop() {
  operationLock_.Close();
  if (!servers_.tcp && !servers_.udp) return;
  stopping_ = true;
  auto done = std::async(std::launch::async, [this] {
    servers_.tcp.reset();
    servers_.udp.reset();
  });
  // A connection thread may be blocked handing its command to this thread.
  while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) app_.Ui().ProcessEvents();
  done.get();
}

void TqnRunServices::CreateEntryDatabase(TqnNode& entry) {
  TqnDbCredentials wanted;
  wanted.path = entry.FindNode("path")->Content().AsString("");
  wanted.user = entry.FindNode("user")->Content().AsString("");
  wanted.password = entry.FindNode("pwd")->Content().AsString("");
  // The creation sets the main connection's library, name and credentials:
  // no backup may change them under it.
  TqnOperationLock::Hold operation(operationLock_);
  TqnDbCredentials used = CreateDatabase(
      connection_, wanted,
      [this](std::string& user, std::string& password) { return app_.Ui().AskLogin(user, password); },
      [this](const std::string& text) { app_.Log().LogMessage(text); });
  // The credentials that finally worked stay with the entry.
  app_.Settings().Change([&](TqnNode&) {
    entry.FindNode("path")->Content().SetString(used.path);
    entry.FindNode("user")->Content().SetString(used.user);
    entry.FindNode("pwd")->Content().SetString(used.password);
  });
  app_.SaveSettings();
}

}  // namespace qn
