// The UDP info server: every datagram on the server port is one info packet.
// A listener thread receives them and hands each to the main thread through
// the owner's runner, waiting until it has been handled, so datagrams are
// handled one at a time on the main thread. Replies leave from a separate,
// unbound client socket for the sender's IP address on the reply port.
// Errors while handling a datagram are swallowed; the loop goes on. A
// datagram from a peer the filter does not allow is dropped on the listener
// thread, unread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "infoserver/info_context.h"
#include "infoserver/peer_filter.h"

namespace qn {

// Runs work on the main thread and returns once it has run. The server
// calls it from its listener thread only.
using TqnMainThreadRunner = std::function<void(const std::function<void()>& work)>;

struct TqnUdpServerOptions {
  std::string address;   // "" = all local IPv4 addresses
  uint16_t port = 7983;  // 0 = a port the system picks (tests)
  uint16_t replyPort = 7985;
  TqnPeerFilter peers;  // the local networks unless configured
};

class TqnInfoUdpServer {
 public:
  // Largest datagram received at all; a larger one is dropped silently.
  static constexpr size_t kReceiveBuffer = 8192;

  // Binds at once (broadcast enabled); throws EqnOsError when the port
  // cannot be bound. A null runner handles datagrams on the listener thread.
  TqnInfoUdpServer(TqnInfoContext ctx, TqnMainThreadRunner runner, const TqnUdpServerOptions& options);
  // Stops the listener and waits for it, and for a datagram being handled.
  // Only when the listener has handed a datagram to the runner and the main
  // thread has not begun it yet is the listener left to end on its own once
  // the runner returns; that work then does nothing. So destroying the
  // server on the main thread never waits for the main thread.
  ~TqnInfoUdpServer();
  TqnInfoUdpServer(const TqnInfoUdpServer&) = delete;
  TqnInfoUdpServer& operator=(const TqnInfoUdpServer&) = delete;

  uint16_t Port() const;
  // Frames payload with the instance number and sends it from the client
  // socket to address, reply port (the progress packets of a remote backup).
  // Any thread; throws EqnOsError.
  void SendPayload(const std::string& address, const std::string& payload);

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace qn
