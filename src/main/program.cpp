#include "main/program.h"

#include <cstdlib>

#include "app/application.h"
#include "firebird/fb_paths.h"
#include "ipc/channel.h"

namespace qn {

bool HandOverToRunningInstance() {
  std::vector<int> slots = ListIpcInstances(TqnApplication::kChannelName);
  if (slots.empty()) return false;
  TqnIpcMessage message{};
  message.SetCommand("activate");
  try {
    SendIpcMessage(TqnApplication::kChannelName, slots.front(), message);
  } catch (const std::exception&) {
    // The other instance went away meanwhile; this one still ends, as the
    // answer is never looked at.
  }
  return true;
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
