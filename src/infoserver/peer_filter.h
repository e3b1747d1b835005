// Which peers the info server answers. Its answers carry database
// addresses and passwords, so only the office's own networks may ask: the
// settings value "allow-peers" lists addresses and networks in CIDR form
// ("192.168.1.0/24, 10.1.2.3, fd00::/8"), separated by commas; missing or
// empty means the local networks (loopback, the private IPv4 ranges,
// link-local, and for IPv6 ::1, fc00::/7 and fe80::/10).
//
// An IPv4 address mapped into IPv6 (::ffff:a.b.c.d) is judged as the IPv4
// address it carries, whichever form a rule or a peer is written in. Pure
// logic; the peer's address text is what the socket layer gives.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

// An address as 16 bytes: IPv4 addresses in their mapped IPv6 form.
using TqnIpBytes = std::array<uint8_t, 16>;

// Dotted IPv4 or IPv6 text (with "::", and a dotted tail); nullopt when the
// text is neither. A zone ("%eth0") is not taken.
std::optional<TqnIpBytes> ParseIpAddress(std::string_view text);

class TqnPeerFilter {
 public:
  static constexpr const char* kSettingName = "allow-peers";

  // The local networks.
  TqnPeerFilter();
  // The list as the setting holds it; items that are no address or network
  // are left out and given in `rejected`. A list with no usable item (empty,
  // or only rejected ones) means the local networks.
  static TqnPeerFilter FromSetting(std::string_view list, std::vector<std::string>* rejected = nullptr);

  bool Allows(std::string_view peerAddress) const;
  bool IsDefault() const { return isDefault_; }

 private:
  struct Rule {
    TqnIpBytes network{};
    int prefix = 0;  // of 128 bits
  };
  static std::optional<Rule> ParseRule(std::string_view item);
  std::vector<Rule> rules_;
  bool isDefault_ = true;
};

}  // namespace qn
