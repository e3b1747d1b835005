#include "main/program.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/application.h"
#include "firebird/fb_paths.h"
#include "ipc/channel.h"

namespace qn {

namespace {
constexpr int kHandOverAttempts = 100;
}  // namespace

bool HandOverToRunningInstance() {
  // An instance that is shutting down answers no more and soon ends; this
  // one then becomes the instance, so that a start is never lost.
  for (int attempt = 0; attempt < kHandOverAttempts; ++attempt) {
    std::vector<int> slots = ListIpcInstances(TqnApplication::kChannelName);
    if (slots.empty()) return false;
    TqnIpcMessage message{};
    message.SetCommand("activate");
    try {
      SendIpcMessage(TqnApplication::kChannelName, slots.front(), message);
      return true;
    } catch (const std::exception&) {
      // The instance went away; its names go with the last handle to them.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  return true;
}

TqnIpcServer& StartChannelServer(TqnMainThreadRunner mainThread) {
  // Never destroyed: it serves until the process ends (destroying it would
  // wait for its listener, which may be waiting for the main thread).
  auto* server = new TqnIpcServer(TqnApplication::kChannelName, std::move(mainThread));
  server->Start();
  return *server;
}

bool WantsHeadless(const std::vector<std::string>& args) {
  std::string value;
  if (GetCmdOption(args, "headless", value) && value == "1") return true;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return false;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return !(x && *x) && !(wayland && *wayland);
}

}  // namespace qn
