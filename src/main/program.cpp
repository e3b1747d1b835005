#include "main/program.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/application.h"
#include "base/error.h"
#include "base/text.h"
#include "firebird/fb_paths.h"
#include "ipc/channel.h"

namespace qn {

namespace {
constexpr int kHandOverAttempts = 100;

// The channel is how a second start finds this one: without it the program
// must not run at all, and says why.
[[noreturn]] void ChannelFailed(const std::exception& e) {
  throw Exception(Format(Win1251("Невозможно создать канал связи между копиями программы \"%s\": %s").c_str(),
                         TqnApplication::kChannelName, e.what()));
}

bool HandOver() {
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
    auto server = std::make_unique<TqnIpcServer>(TqnApplication::kChannelName, std::move(mainThread));
    server->Start();
    return *server.release();
  } catch (const std::exception& e) {
    ChannelFailed(e);
  }
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
