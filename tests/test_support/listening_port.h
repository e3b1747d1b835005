// A port for a server under test to listen on, free for TCP and UDP.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <random>

// Whether a socket of this type can be bound to the port on every address
// now (no SO_REUSEADDR: a lingering connection counts as taken).
inline bool PortIsFree(int type, uint16_t port) {
  const auto fd = ::socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
#ifdef _WIN32
  ::closesocket(fd);
#else
  ::close(fd);
#endif
  return free;
}

// A random port under 32000, below the ephemeral ranges of Linux (32768 and
// up) and Windows (49152 and up), so that no outgoing connection of a test
// running beside this one is given it between this check and the server's
// bind.
inline uint16_t ListeningPort() {
  static std::mt19937 pick(std::random_device{}());
  for (;;) {
    const auto port = static_cast<uint16_t>(20000 + pick() % 12000);
    if (PortIsFree(SOCK_STREAM, port) && PortIsFree(SOCK_DGRAM, port)) return port;
  }
}
