// The log lines of refused packets, bounded so that a broken or hostile
// peer on the network cannot fill the disk or the message pane: each line
// carries at most kLoggedPacketLimit bytes of the packet, and past the first
// kLinesPerWindow refusals of a peer within kWindowMs the rest are counted
// and told in one summary line when the peer's next window begins.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "infoserver/info_context.h"

namespace qn {

class TqnRefusalLog {
 public:
  static constexpr size_t kLoggedPacketLimit = 120;
  static constexpr int kLinesPerWindow = 5;
  static constexpr int64_t kWindowMs = 60000;
  static constexpr size_t kMaxPeers = 1024;

  using Clock = std::chrono::steady_clock;

  // Logs "invalid reply while handling command " and the packet, or counts it.
  void Refused(const TqnInfoContext& ctx, const std::string& peer, const std::string& packet,
               Clock::time_point now = Clock::now());
  // Logs "refused <what> from <peer>, not in allow-peers", or counts it.
  void OutsidePeer(const TqnInfoContext& ctx, const std::string& peer, const char* what,
                   Clock::time_point now = Clock::now());

 private:
  struct Window {
    Clock::time_point start;
    int logged = 0;
    size_t folded = 0;
  };
  Window& WindowOf(const std::string& peer, Clock::time_point now);
  // The line, unless the peer's window is full; then it is counted.
  void Log(const TqnInfoContext& ctx, const std::string& peer, const std::string& line, Clock::time_point now);

  std::mutex mutex_;
  std::map<std::string, Window> peers_;
};

}  // namespace qn
