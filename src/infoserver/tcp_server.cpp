#include "infoserver/tcp_server.h"

#include "base/error.h"
#include "infoserver/info_handler.h"
#include "infoserver/info_packet.h"

namespace qn {

namespace {
// Pause after a failed accept (say, out of descriptors) before the next try,
// so that the listener does not spin while the condition lasts.
constexpr uint32_t kAcceptRetryMs = 50;
}  // namespace

TqnInfoTcpServer::TqnInfoTcpServer(TqnInfoContext ctx, const TqnTcpServerOptions& options)
    : ctx_(std::move(ctx)),
      options_(options),
      listener_(platform::TcpListener::Listen(options.address, options.port, options.backlog)),
      threads_(options.maxConnections) {
  listenThread_ = std::thread([this] { ListenLoop(); });
}

TqnInfoTcpServer::~TqnInfoTcpServer() {
  cancel_.Set();
  listenThread_.join();
  // threads_ goes next (members end in reverse order): it waits for the
  // connections, which the cancel has woken.
}

void TqnInfoTcpServer::ListenLoop() {
  for (;;) {
    std::shared_ptr<platform::TcpConnection> connection;
    try {
      connection = listener_->Accept(&cancel_);
    } catch (const Exception& e) {
      AcceptFailed(e);
      if (cancel_.Wait(kAcceptRetryMs)) return;
      continue;
    }
    if (!connection) return;
    AcceptWorks();
    const std::string peer = connection->PeerAddress();
    // Database passwords go only to the office's own machines.
    if (!options_.peers.Allows(peer)) {
      refusals_.OutsidePeer(ctx_, peer, "connection");
      continue;
    }
    // Over a limit the connection is dropped here, closed unanswered.
    if (!EnterPeer(peer)) continue;
    const bool started = threads_.Start([this, connection, peer] {
      struct Leave {
        TqnInfoTcpServer& server;
        const std::string& peer;
        ~Leave() { server.LeavePeer(peer); }
      } leave{*this, peer};
      Serve(*connection);
    });
    if (!started) LeavePeer(peer);
  }
}

void TqnInfoTcpServer::AcceptFailed(const Exception& error) {
  if (acceptFailures_++ > 0) return;
  firstAcceptFailure_ = std::chrono::steady_clock::now();
  const auto* os = dynamic_cast<const EqnOsError*>(&error);
  const bool shortage = os && platform::IsDescriptorShortage(os->Code());
  std::string line = "can not accept connections on TCP port " + std::to_string(Port()) + ": " + error.what();
  if (shortage)
    line += " (" + std::to_string(ActiveConnections()) + " connections open; the open files limit is reached)";
  // The log takes descriptors of its own: without the reserve this very
  // line would be lost for want of them.
  if (shortage) reserve_.Release();
  try {
    InfoLog(ctx_, line, 0);
  } catch (...) {
  }
  if (shortage) reserve_.Refill();
}

void TqnInfoTcpServer::AcceptWorks() {
  if (acceptFailures_ == 0) return;
  reserve_.Refill();
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - firstAcceptFailure_).count();
  InfoLog(ctx_,
          "accepting connections again after " + std::to_string(acceptFailures_) + " failed attempts in " +
              std::to_string(seconds) + " s",
          0);
  acceptFailures_ = 0;
}

bool TqnInfoTcpServer::EnterPeer(const std::string& peer) {
  std::lock_guard<std::mutex> lock(peersMutex_);
  size_t& open = peers_[peer];
  if (open >= options_.maxConnectionsPerPeer) return false;
  ++open;
  return true;
}

void TqnInfoTcpServer::LeavePeer(const std::string& peer) {
  std::lock_guard<std::mutex> lock(peersMutex_);
  auto it = peers_.find(peer);
  if (it != peers_.end() && --it->second == 0) peers_.erase(it);
}

void TqnInfoTcpServer::Serve(platform::TcpConnection& connection) {
  struct Closer {
    platform::TcpConnection& c;
    ~Closer() { c.Close(); }
  } closer{connection};
  if (cancel_.IsSet()) return;
  InfoLog(ctx_, "Receiving connection from " + connection.PeerAddress(), 2);

  std::string line;
  using Result = platform::TcpConnection::LineResult;
  const Result read = connection.ReadLine(line, kInfoPacketLimit, options_.readTimeoutMs, &cancel_);
  // A line over the limit, a peer gone before its line feed, or shutdown:
  // closed without a word. A silent peer counts as an empty line.
  if (read != Result::Line && read != Result::TimedOut) return;
  InfoLog(ctx_, "msg = " + line, 2);

  const std::string reply = HandleInfoPacket(ctx_, line, "");
  if (reply != kInvalidReply) {
    connection.Write(reply + "\r\n", options_.writeTimeoutMs, &cancel_);
  } else {
    refusals_.Refused(ctx_, connection.PeerAddress(), line);
  }
}

}  // namespace qn
