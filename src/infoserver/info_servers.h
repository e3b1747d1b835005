// Start-up of the two info servers. UDP comes first, then TCP. Each is
// skipped when its flag file ("ignore-udp.txt", "ignore-tcp.txt") is in the
// program folder; its port is 7983 unless the settings root has "udp-port"
// or "tcp-port" (an integer, 0 when it is not a number), and it starts only
// on a port above 1024. A port that cannot be bound is logged and the rest
// goes on: the program works without the info server. Both answer only the
// peers that "allow-peers" lets in (the local networks when it is empty).
#pragma once

#include <memory>
#include <string>

#include "infoserver/info_context.h"
#include "infoserver/tcp_server.h"
#include "infoserver/udp_server.h"

namespace qn {

constexpr uint16_t kInfoReplyPort = 7985;

struct TqnInfoServersOptions {
  std::string programFolder;  // where the flag files are looked for
  std::string address;        // "" = all local IPv4 addresses
  uint16_t replyPort = kInfoReplyPort;
  TqnMainThreadRunner runner;  // hands UDP datagrams to the main thread
};

struct TqnInfoServers {
  std::unique_ptr<TqnInfoUdpServer> udp;  // null when off or not bound
  std::unique_ptr<TqnInfoTcpServer> tcp;
};

// Never throws for a port that cannot be bound; logs
// "started info server on UDP|TCP port N" or
// "can not start info server on UDP|TCP port N: <system's reason>".
TqnInfoServers StartInfoServers(const TqnInfoContext& ctx, const TqnInfoServersOptions& options);

}  // namespace qn
