// IPv4 socket addresses as both socket implementations of the platform
// layer read and write them; include after the system's socket headers
// (arpa/inet.h here, winsock2.h and ws2tcpip.h on Windows).
#pragma once

#include <cstdint>
#include <string>

#include "base/error.h"

namespace qn::platform {

// "" is every local address; anything else must be a dotted IPv4 address.
inline in_addr ParseAddress(const std::string& address) {
  in_addr a{};
  if (address.empty()) {
    a.s_addr = htonl(INADDR_ANY);
  } else if (::inet_pton(AF_INET, address.c_str(), &a) != 1) {
    throw Exception("invalid IPv4 address " + address);
  }
  return a;
}

inline sockaddr_in MakeAddress(const std::string& address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = ParseAddress(address);
  sa.sin_port = htons(port);
  return sa;
}

// The dotted form of the address, "" when it has none.
inline std::string AddressText(const sockaddr_in& sa) {
  char buf[INET_ADDRSTRLEN] = {0};
  if (!::inet_ntop(AF_INET, &sa.sin_addr, buf, sizeof buf)) return "";
  return buf;
}

}  // namespace qn::platform
