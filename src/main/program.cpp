#include "main/program.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/application.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_paths.h"
#include "cli/command_client.h"
#include "ipc/channel.h"
#include "ipc/log.h"
#include "platform/files.h"
#include "platform/system.h"

namespace qn {

namespace {
constexpr int kHandOverAttempts = 100;
const char* gChannelName = TqnApplication::kChannelName;

// The channel is how a second start finds this one: without it the program
// must not run at all, and says why.
[[noreturn]] void ChannelFailed(const std::exception& e) {
  throw Exception(Format(Win1251("Невозможно создать канал связи между копиями программы \"%s\": %s").c_str(),
                         gChannelName, e.what()));
}
}  // namespace

void SetServiceRun(bool service) {
  gChannelName = service ? TqnApplication::kServiceChannelName : TqnApplication::kChannelName;
}

bool ServiceRunsHere() { return IpcChannelInUse(TqnApplication::kServiceChannelName); }

int TellServiceRuns(int argc, char** argv, bool quiet) {
  // Who may reach the service sees it through the command line; no one is
  // greeted at login with an error.
  std::string text = ServiceOnlyMessage();
  if (!ListIpcInstances(TqnApplication::kServiceChannelName).empty()) {
    // A desktop shows the service's register in a window that backs up and
    // restores through it.
    if (!quiet && ShowServiceView(argc, argv)) return 0;
    text = Win1251(
        "Базы данных на этом компьютере обслуживает служба qndbmgr. Архивация и разархивация: "
        "qndbmgr --backup=КЛЮЧ, qndbmgr --restore=КЛЮЧ --from=ФАЙЛ");
    // Its register, asked the way the command line asks it.
    TqnCommand list;
    list.kind = TqnCommandKind::List;
    if (auto answer = RunInService(list); answer && answer->ok) {
      std::string lines = answer->text;
      std::replace(lines.begin(), lines.end(), '\t', ' ');
      text += Win1251("\n\nРеестр службы (номер, ключ, описание, путь, папка архивов, автоархивация):\n") + lines;
    }
  }
  std::fputs((platform::ToTerminal(text) + "\n").c_str(), stderr);
  if (!quiet) ShowNotice(argc, argv, text);
  return 0;
}

namespace {
bool HandOver() {
  // An instance that is shutting down answers no more and soon ends; this
  // one then becomes the instance, so that a start is never lost. A
  // short-lived instance that runs an administrator's command ends when the
  // command is done: this start waits for it, then starts.
  for (int attempt = 0; attempt < kHandOverAttempts; ++attempt) {
    std::vector<int> slots = ListIpcInstances(gChannelName);
    if (slots.empty()) return false;
    TqnIpcMessage message{};
    message.SetCommand("activate");
    try {
      SendIpcMessage(gChannelName, slots.front(), message);
    } catch (const std::exception&) {
      // The instance went away; its names go with the last handle to them.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    if (message.Status() != TqnApplication::kCommandInstanceStatus) return true;
    while (ListIpcInstances(gChannelName) == slots) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    attempt = -1;
  }
  // Listed all along and never reachable: nothing was handed over, and a
  // start that ended quietly here would look like a clean stop to the
  // service manager, which then runs no failure action.
  throw Exception(Win1251("запущенная копия программы не отвечает"));
}
}  // namespace

bool HandOverToRunningInstance() {
  try {
    return HandOver();
  } catch (const std::exception& e) {
    ChannelFailed(e);
  }
}

TqnIpcServer& StartChannelServer(TqnMainThreadRunner mainThread) {
  // Never destroyed: it serves until the process ends (destroying it would
  // wait for its listener, which may be waiting for the main thread).
  try {
    auto server = std::make_unique<TqnIpcServer>(gChannelName, std::move(mainThread));
    server->Start();
    return *server.release();
  } catch (const std::exception& e) {
    ChannelFailed(e);
  }
}

bool WantsHeadless(const std::vector<std::string>& args) {
  std::string value;
  if (GetCmdOption(args, "headless", value) && value == "1") return true;
#ifdef _WIN32
  return false;  // every desktop of Windows shows windows
#else
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return false;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return !(x && *x) && !(wayland && *wayland);
#endif
}

namespace {
std::string PlantedServiceName() {
  const std::string planted = UntrustedChannelHolder(TqnApplication::kServiceChannelName);
  if (planted.empty()) return planted;
  return Format(Win1251("Имя канала службы занято не системой, а другим пользователем: %s. Служба не передаёт ему "
                        "ни команд, ни паролей; завершите процесс этого пользователя.")
                    .c_str(),
                planted.c_str());
}
}  // namespace

void TellOfPlantedServiceName(int argc, char** argv, bool quiet) {
  const std::string planted = PlantedServiceName();
  if (planted.empty()) return;
  std::fputs((platform::ToTerminal(planted) + "\n").c_str(), stderr);
  if (!quiet) ShowNotice(argc, argv, planted);
}

int RunService(int argc, char** argv) {
  try {
    if (const std::string planted = PlantedServiceName(); !planted.empty()) {
      platform::SystemClock clock;
      TqnLog(platform::ProgramFolder(), false, clock, nullptr).LogMessage(planted);
    }
    if (HandOverToRunningInstance()) return 0;
    return RunHeadless(argc, argv);
  } catch (const std::exception& e) {
    try {
      platform::SystemClock clock;
      TqnLog(platform::ProgramFolder(), false, clock, nullptr).LogMessage(e.what());
    } catch (...) {
      // No log to write to either: the exit code alone tells.
    }
    throw;
  }
}

}  // namespace qn
