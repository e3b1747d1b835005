#include "infoserver/refusal_log.h"

namespace qn {

TqnRefusalLog::Window& TqnRefusalLog::WindowOf(const std::string& peer, Clock::time_point now) {
  if (peers_.size() >= kMaxPeers && peers_.find(peer) == peers_.end()) {
    // Many senders (or forged addresses): forget the windows that are over
    // and have nothing to tell; past that, they share one window.
    for (auto it = peers_.begin(); it != peers_.end();)
      it = now - it->second.start >= std::chrono::milliseconds(kWindowMs) && it->second.folded == 0 ? peers_.erase(it)
                                                                                                    : std::next(it);
    if (peers_.size() >= kMaxPeers) return peers_["(other peers)"];
  }
  return peers_.try_emplace(peer, Window{now, 0, 0}).first->second;
}

void TqnRefusalLog::Refused(const TqnInfoContext& ctx, const std::string& peer, const std::string& packet,
                            Clock::time_point now) {
  std::string shown = packet.substr(0, kLoggedPacketLimit);
  if (packet.size() > kLoggedPacketLimit) shown += "...";
  Log(ctx, peer, "invalid reply while handling command " + shown, now);
}

void TqnRefusalLog::OutsidePeer(const TqnInfoContext& ctx, const std::string& peer, const char* what,
                                Clock::time_point now) {
  Log(ctx, peer, std::string("refused ") + what + " from " + peer + ", not in allow-peers", now);
}

void TqnRefusalLog::Log(const TqnInfoContext& ctx, const std::string& peer, const std::string& line,
                        Clock::time_point now) {
  std::string summary;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Window& w = WindowOf(peer, now);
    const auto elapsed = now - w.start;
    if (elapsed >= std::chrono::milliseconds(kWindowMs)) {
      if (w.folded > 0) {
        summary = std::to_string(w.folded) + " more invalid packets from " + peer + " in " +
                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()) +
                  " s were not logged";
      }
      w = Window{now, 0, 0};
    }
    if (w.logged >= kLinesPerWindow) {
      ++w.folded;
      return;
    }
    ++w.logged;
  }
  if (!summary.empty()) InfoLog(ctx, summary, 0);
  InfoLog(ctx, line, 0);
}

}  // namespace qn
