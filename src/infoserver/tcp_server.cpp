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
    } catch (const Exception&) {
      if (cancel_.Wait(kAcceptRetryMs)) return;
      continue;
    }
    if (!connection) return;
    // Over a limit the connection is dropped here, closed unanswered.
    const std::string peer = connection->PeerAddress();
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
