#include "infoserver/udp_server.h"

#include <atomic>
#include <mutex>

#include "base/error.h"
#include "infoserver/info_handler.h"
#include "infoserver/info_packet.h"
#include "infoserver/refusal_log.h"
#include "platform/sockets.h"

namespace qn {

namespace {
constexpr uint32_t kReceiveRetryMs = 50;
}  // namespace

// Shared by the server object and its listener thread, which may outlive the
// object (see the destructor).
struct TqnInfoUdpServer::State {
  TqnInfoContext ctx;
  TqnMainThreadRunner runner;
  uint16_t replyPort;
  TqnPeerFilter peers;
  std::unique_ptr<platform::UdpSocket> server;
  platform::SocketCancel cancel;
  std::atomic<bool> stopped{false};

  // The hand-over of one datagram, guarded by mutex: the listener is inside
  // the runner, and the work it handed over has begun on the main thread.
  std::mutex mutex;
  bool inRunner = false;
  bool workStarted = false;
  std::unique_ptr<platform::UdpSocket> client;  // opened on first use, guarded by sendMutex
  std::mutex sendMutex;
  TqnRefusalLog refusals;

  void Send(const std::string& packet, const std::string& address) {
    std::lock_guard<std::mutex> lock(sendMutex);
    if (!client) client = platform::UdpSocket::Open(false);
    client->SendTo(packet, address, replyPort);
  }

  // iusInfoUDPRead: one datagram, on the main thread.
  void Handle(const std::string& data, const std::string& peer) {
    InfoLog(ctx, "UDP Server Read, peerip = " + peer, 2);
    if (data.size() > kInfoPacketLimit) {
      InfoLog(ctx, "data too big", 0);
      return;
    }
    InfoLog(ctx, "Receiving packet from " + peer, 2);
    const std::string reply = HandleInfoPacket(ctx, data, peer);
    if (reply != kInvalidReply) {
      Send(reply, peer);
    } else {
      refusals.Refused(ctx, peer, data);
    }
  }

  static void Listen(const std::shared_ptr<State>& self) {
    using Result = platform::UdpSocket::ReceiveResult;
    for (;;) {
      std::string data, peer;
      Result result;
      try {
        result = self->server->Receive(data, peer, kReceiveBuffer, &self->cancel);
      } catch (const Exception&) {
        if (self->cancel.Wait(kReceiveRetryMs)) return;
        continue;
      }
      if (result == Result::Cancelled) return;
      if (result == Result::Truncated) continue;
      if (!self->peers.Allows(peer)) {
        self->refusals.OutsidePeer(self->ctx, peer, "datagram");
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(self->mutex);
        if (self->stopped) return;
        self->inRunner = true;
        self->workStarted = false;
      }
      auto work = [self, data, peer] {
        {
          std::lock_guard<std::mutex> lock(self->mutex);
          if (self->stopped) return;
          self->workStarted = true;
        }
        try {
          self->Handle(data, peer);
        } catch (...) {
        }
      };
      try {
        if (self->runner) {
          self->runner(work);
        } else {
          work();
        }
      } catch (...) {
      }
      std::lock_guard<std::mutex> lock(self->mutex);
      self->inRunner = false;
      if (self->stopped) return;
    }
  }
};

TqnInfoUdpServer::TqnInfoUdpServer(TqnInfoContext ctx, TqnMainThreadRunner runner, const TqnUdpServerOptions& options)
    : state_(std::make_shared<State>()) {
  state_->ctx = std::move(ctx);
  state_->runner = std::move(runner);
  state_->replyPort = options.replyPort;
  state_->peers = options.peers;
  state_->server = platform::UdpSocket::Bind(options.address, options.port, true);
  thread_ = std::thread([state = state_] { State::Listen(state); });
}

TqnInfoUdpServer::~TqnInfoUdpServer() {
  bool waitingForMainThread;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopped = true;
    // Work that has begun runs to its end and the runner then returns, so
    // the listener can be waited for; work not yet begun may wait for the
    // very thread that is destroying the server.
    waitingForMainThread = state_->inRunner && !state_->workStarted;
  }
  state_->cancel.Set();
  if (waitingForMainThread) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

uint16_t TqnInfoUdpServer::Port() const { return state_->server->Port(); }

void TqnInfoUdpServer::SendPayload(const std::string& address, const std::string& payload) {
  state_->Send(EncodePacket(payload, state_->ctx.packetKey, state_->ctx.instanceNumber), address);
}

}  // namespace qn
