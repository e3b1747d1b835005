#include "infoserver/info_servers.h"

#include <cstdint>

#include "base/error.h"
#include "platform/files.h"
#include "settings/settings_keys.h"

namespace qn {

namespace {

// A stored value that is no number is no port: the server stays off.
int ConfiguredPort(const TqnInfoContext& ctx, const TqnSettingKey& key) {
  int port = key.MissingInteger();
  if (!ctx.readSettings) return port;
  ctx.readSettings([&](const TqnNode& root) {
    const TqnNode* node = KeyNode(root, key);
    if (node->Exists()) port = node->Content().AsInteger(0);
  });
  return port;
}

// "allow-peers"; items that are no address or network are logged and left out.
TqnPeerFilter ConfiguredPeers(const TqnInfoContext& ctx) {
  std::string list;
  if (ctx.readSettings)
    ctx.readSettings(
        [&](const TqnNode& root) { list = root.FindNode(TqnPeerFilter::kSettingName)->Content().AsString(""); });
  std::vector<std::string> rejected;
  TqnPeerFilter filter = TqnPeerFilter::FromSetting(list, &rejected);
  for (const auto& item : rejected)
    InfoLog(ctx, std::string(TqnPeerFilter::kSettingName) + ": \"" + item + "\" is no address or network, left out", 0);
  if (!rejected.empty() && filter.IsDefault())
    InfoLog(ctx, std::string(TqnPeerFilter::kSettingName) + ": only the local networks are answered", 0);
  return filter;
}

// Builds one server; a failure to bind is logged and gives null.
template <class Make>
auto StartOne(const TqnInfoContext& ctx, const TqnInfoServersOptions& options, const char* ignoreFile,
              const TqnSettingKey& setting, const char* kind, Make make) -> decltype(make(uint16_t{})) {
  if (platform::FileExists(platform::JoinPath(options.programFolder, ignoreFile))) return nullptr;
  const int port = ConfiguredPort(ctx, setting);
  if (port < setting.min) return nullptr;
  const std::string where = std::string("info server on ") + kind + " port " + std::to_string(port);
  if (port > setting.max) {
    InfoLog(ctx, "can not start " + where + ": port out of range", 0);
    return nullptr;
  }
  try {
    auto server = make(static_cast<uint16_t>(port));
    InfoLog(ctx, "started " + where, 0);
    return server;
  } catch (const std::exception& e) {
    InfoLog(ctx, "can not start " + where + ": " + e.what(), 0);
    return nullptr;
  }
}

}  // namespace

TqnInfoServers StartInfoServers(const TqnInfoContext& ctx, const TqnInfoServersOptions& options) {
  TqnInfoServers servers;
  const TqnPeerFilter peers = ConfiguredPeers(ctx);
  servers.udp = StartOne(ctx, options, "ignore-udp.txt", keys::kUdpPort, "UDP", [&](uint16_t port) {
    TqnUdpServerOptions udp;
    udp.address = options.address;
    udp.port = port;
    udp.replyPort = options.replyPort;
    udp.peers = peers;
    return std::make_unique<TqnInfoUdpServer>(ctx, options.runner, udp);
  });
  servers.tcp = StartOne(ctx, options, "ignore-tcp.txt", keys::kTcpPort, "TCP", [&](uint16_t port) {
    TqnTcpServerOptions tcp;
    tcp.address = options.address;
    tcp.port = port;
    tcp.peers = peers;
    return std::make_unique<TqnInfoTcpServer>(ctx, tcp);
  });
  return servers;
}

}  // namespace qn
