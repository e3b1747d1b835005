// The TCP info server: one request line per connection, answered with one
// framed reply line (CR LF), then the connection is closed, also on every
// failure. Each connection runs on a thread of its own, so a slow or silent
// client never holds up another; beyond maxConnections at once new
// connections are closed unanswered, and so are those of one peer address
// beyond maxConnectionsPerPeer, so that one machine cannot take them all.
// A connection from a peer the filter does not allow is closed at once,
// before a byte of it is read.
//
// Shutdown: the destructor stops the listener, wakes every connection that
// is waiting for its line and waits for requests in progress to end. A
// request runs the context's callbacks on its thread; one that hands work to
// the main thread (the conversion lock) must therefore give up once shutdown
// has begun if the server is destroyed on the main thread.
#pragma once

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/error.h"
#include "infoserver/connection_threads.h"
#include "infoserver/info_context.h"
#include "infoserver/peer_filter.h"
#include "infoserver/refusal_log.h"
#include "platform/sockets.h"
#include "platform/system.h"

namespace qn {

struct TqnTcpServerOptions {
  std::string address;             // "" = all local IPv4 addresses
  uint16_t port = 7983;            // 0 = a port the system picks (tests)
  uint32_t readTimeoutMs = 10000;  // for the request line
  uint32_t writeTimeoutMs = 10000;
  size_t maxConnections = 4096;
  size_t maxConnectionsPerPeer = 64;
  int backlog = 4096;
  TqnPeerFilter peers;  // the local networks unless configured
};

class TqnInfoTcpServer {
 public:
  // Listens at once; throws EqnOsError when the port cannot be bound.
  TqnInfoTcpServer(TqnInfoContext ctx, const TqnTcpServerOptions& options);
  ~TqnInfoTcpServer();
  TqnInfoTcpServer(const TqnInfoTcpServer&) = delete;
  TqnInfoTcpServer& operator=(const TqnInfoTcpServer&) = delete;

  uint16_t Port() const { return listener_->Port(); }
  size_t ActiveConnections() const { return threads_.Running(); }

 private:
  void ListenLoop();
  // Logs the first failure of a run of failed accepts, and the run's end.
  void AcceptFailed(const Exception& error);
  void AcceptWorks();
  // Counts a connection of the peer in; false when the peer has its limit.
  bool EnterPeer(const std::string& peer);
  void LeavePeer(const std::string& peer);
  void Serve(platform::TcpConnection& connection);  // itsInfoExecute

  const TqnInfoContext ctx_;
  const TqnTcpServerOptions options_;
  platform::SocketCancel cancel_;
  TqnRefusalLog refusals_;
  // Listener thread only: the current run of failed accepts, and the
  // descriptors that let its log line be written when they ran out.
  int64_t acceptFailures_ = 0;
  std::chrono::steady_clock::time_point firstAcceptFailure_;
  platform::DescriptorReserve reserve_{8};
  std::mutex peersMutex_;
  std::map<std::string, size_t> peers_;  // open connections per peer address
  std::unique_ptr<platform::TcpListener> listener_;
  TqnConnectionThreads threads_;
  std::thread listenThread_;
};

}  // namespace qn
