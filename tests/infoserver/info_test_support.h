// Shared pieces of the info server tests: a settings register built from XML
// text, a context around it with a log that the test can read back, and
// workstation-side clients written with the system's plain BSD sockets
// (Winsock on Windows), so that the server's own socket layer is not used to
// check itself.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// Not the Win32 macros, but the functions of the code under test.
#undef CopyFile
#undef DeleteFile
#undef GetDriveType
#undef MoveFile
#define MSG_NOSIGNAL 0
#define SOCK_CLOEXEC 0
#define SHUT_WR SD_SEND
inline int poll(pollfd* fds, unsigned long count, int timeoutMs) { return ::WSAPoll(fds, count, timeoutMs); }
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "base/sha1.h"
#include "base/text.h"
#include "infoserver/info_context.h"
#include "infoserver/info_packet.h"
#include "ipc/log.h"
#include "ipc/message_pane.h"
#include "test_support/fake_clock.h"
#include "test_support/temp_dir.h"
#include "xml/xml_parser.h"

namespace infotest {

inline constexpr const char* kKey = "test-key";
inline constexpr int32_t kInstance = 0x1234ABCD;
inline constexpr const char* kHost = "OFFICE1";

// Three entries, a non-entry child between them, a hidden password, an empty
// caption and stored texts with escapes in them.
inline const char* kRegisterXml =
    "<settings><PIN>test-key</PIN><data>"
    "<db0000><path>localhost:C:\\Data\\tx.fdb</path><user>SYSDBA</user><pwd>pass word</pwd>"
    "<caption>Main base</caption><backup><path>C:\\Backup\\0000\\</path></backup></db0000>"
    "<db0003><path>localhost/53030:C:\\Data\\tx3.fd3</path><user>SYS&#x26;DBA</user><pwd>secret</pwd>"
    "<caption>a&#x26;b</caption><hidepwd>1</hidepwd><backup><path>C:\\</path></backup></db0003>"
    "<notes>free text</notes>"
    "<db0007><path>srv:C:\\far\\away.fdb</path><user>u</user><pwd>p</pwd><caption></caption>"
    "<backup><path>D:\\Copies\\</path></backup></db0007>"
    "</data></settings>";

// The owner's side of the context: the tree behind a reader-writer lock.
class Settings {
 public:
  explicit Settings(const std::string& xml)
      : root_(qn::XmlLoadStream("<?xml version=\"1.0\" encoding=\"windows-1251\"?>" + xml, "settings")) {}
  void Read(const std::function<void(const qn::TqnNode&)>& fn) {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    fn(*root_);
  }
  qn::TqnNode& Root() { return *root_; }
  // Runs fn with the tree taken exclusively, as the main thread changes it.
  void Write(const std::function<void(qn::TqnNode&)>& fn) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    fn(*root_);
  }
  // Whether a writer could take the lock right now (no reader holds it).
  bool WriterCouldEnter() {
    std::unique_lock<std::shared_mutex> lock(mutex_, std::try_to_lock);
    return lock.owns_lock();
  }

 private:
  std::shared_mutex mutex_;
  std::unique_ptr<qn::TqnNode> root_;
};

// A context over a register, logging into a temporary folder and a pane.
class Fixture {
 public:
  explicit Fixture(const std::string& xml = kRegisterXml, bool debug = true)
      : clock(2024, 3, 5, 14, 7, 9), settings(xml), log(dir.path(), debug, clock, &pane) {
    qn::DateTime t = clock.Now();
    t.msec = 123;
    clock.Set(t);
    ctx.packetKey = kKey;
    ctx.instanceNumber = kInstance;
    ctx.address.localHostName = kHost;
    ctx.log = &log;
    ctx.pane = &pane;
    ctx.clock = &clock;
    ctx.readSettings = [this](const std::function<void(const qn::TqnNode&)>& fn) { settings.Read(fn); };
  }

  // The texts of the log records so far, without their time stamps; lines
  // added to the pane directly are kept as they are.
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> texts;
    const std::string stamp = qn::FormatDateTime("yyyy.dd.mm hh.nn.ss: ", clock.Now());
    for (const auto& line : pane.Lines()) {
      if (line.empty()) continue;
      texts.push_back(line.rfind(stamp, 0) == 0 ? line.substr(stamp.size()) : line);
    }
    return texts;
  }
  bool Logged(const std::string& text) const {
    for (const auto& t : LogTexts())
      if (t == text) return true;
    return false;
  }

  TempDir dir;
  FakeClock clock;
  Settings settings;
  qn::TqnMessagePane pane;
  qn::TqnLog log;
  qn::TqnInfoContext ctx;
};

inline std::string Request(const std::string& payload, int32_t number = 0x2A) {
  return qn::EncodePacket(payload, kKey, number);
}

// ---- plain clients

#ifdef _WIN32
inline const bool kWinsockStarted = [] {
  WSADATA data;
  return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
inline int CloseSocket(int fd) { return ::closesocket(static_cast<SOCKET>(fd)); }
// The system's code for a port that is taken.
inline constexpr int kAddressInUse = WSAEADDRINUSE;
#else
inline int CloseSocket(int fd) { return ::close(fd); }
inline constexpr int kAddressInUse = EADDRINUSE;
#endif

inline sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

// A connected TCP client socket, or -1.
// A connection to the port on 127.0.0.1; with a source, from that address
// of the loopback range (127.0.0.0/8), as a client on another machine.
inline int Connect(uint16_t port, const char* source = nullptr) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (source) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
      CloseSocket(fd);
      return -1;
    }
  }
  sockaddr_in sa = Loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    CloseSocket(fd);
    return -1;
  }
  return fd;
}

inline void SetBlocking(int fd, bool blocking) {
#ifdef _WIN32
  u_long nonBlocking = blocking ? 0 : 1;
  ::ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &nonBlocking);
#else
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
#endif
}

inline bool SendWouldBlock() {
#ifdef _WIN32
  return ::WSAGetLastError() == WSAEWOULDBLOCK;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}

// Sends the bytes; false when the peer closed, reset or took nothing for
// limitMs. Sent without blocking: a blocking send of more than the socket
// buffers hold may never return under Wine when the peer resets meanwhile.
inline bool SendAll(int fd, const std::string& bytes, int limitMs = 30000) {
  SetBlocking(fd, false);
  size_t done = 0;
  bool sent = true;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, static_cast<int>(bytes.size() - done), MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    pollfd p{};
    p.fd = fd;
    p.events = POLLOUT;
    if (n == 0 || !SendWouldBlock() || poll(&p, 1, limitMs) <= 0) {
      sent = false;
      break;
    }
  }
  SetBlocking(fd, true);
  return sent;
}

// Everything the server sends until it closes (a reset counts as closed);
// gives up after limitMs without data.
inline std::string ReadToEnd(int fd, int limitMs = 30000) {
  std::string out;
  char buf[4096];
  for (;;) {
    pollfd p{};
    p.fd = fd;
    p.events = POLLIN;
    if (poll(&p, 1, limitMs) <= 0) return out + "<no close>";
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
}

// One request over a new connection: the reply bytes as received.
inline std::string TcpExchange(uint16_t port, const std::string& bytes) {
  int fd = Connect(port);
  if (fd < 0) return "<no connect>";
  SendAll(fd, bytes);
  std::string reply = ReadToEnd(fd);
  CloseSocket(fd);
  return reply;
}

// A UDP socket bound to a free loopback port, to send requests from and
// receive replies on.
class UdpPeer {
 public:
  UdpPeer() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = Loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~UdpPeer() { CloseSocket(fd_); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  uint16_t Port() const { return port_; }
  bool SendTo(uint16_t port, const std::string& bytes) {
    sockaddr_in sa = Loopback(port);
    return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) ==
           static_cast<ssize_t>(bytes.size());
  }
  // The next datagram, or "<none>" after limitMs.
  std::string Receive(int limitMs = 20000) {
    pollfd p{};
    p.fd = fd_;
    p.events = POLLIN;
    if (poll(&p, 1, limitMs) <= 0) return "<none>";
    char buf[65536];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n < 0 ? "<error>" : std::string(buf, static_cast<size_t>(n));
  }

 private:
  int fd_;
  uint16_t port_ = 0;
};

// The payload of a framed reply of this server, checking its check sum and
// that its number field is the instance number; "<bad frame>" otherwise.
inline std::string ReplyPayload(const std::string& packet) {
  std::string body = packet.size() > 41 ? packet.substr(41) : "";
  if (packet.size() < 50 || packet[40] != ' ' || qn::Sha1Hex(body + kKey) != packet.substr(0, 40)) return "<bad frame>";
  if (body.substr(0, 9) != qn::HexUpper(static_cast<uint32_t>(kInstance), 8) + " ") return "<bad number>";
  return body.substr(9);
}

}  // namespace infotest
