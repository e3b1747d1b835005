// IPv4 sockets on Windows (Winsock 2). Sockets are non-blocking; a wait
// sleeps on the socket's network events and the cancel's event together,
// so a cancel releases every waiter at once.

#include "platform/win32.h"

#include <chrono>
#include <mutex>

#include "base/error.h"
#include "platform/files.h"
#include "platform/socket_address.h"
#include "platform/socket_lines.h"
#include "platform/sockets.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace qn::platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr DWORD kRecheckMs = 250;

[[noreturn]] void ThrowError(int code) { throw EqnOsError(ErrorText(code), code); }
[[noreturn]] void ThrowSocketError() { ThrowError(::WSAGetLastError()); }

void StartWinsock() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data;
    const int rc = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) ThrowError(rc);
  });
}

SOCKET Sock(intptr_t handle) { return static_cast<SOCKET>(handle); }
intptr_t Handle(SOCKET s) { return static_cast<intptr_t>(s); }

enum class WaitOutcome { Ready, TimedOut, Cancelled };

// True when the socket can be read (or accepted from) or written now;
// errors count as ready so that the following call reports them.
bool ReadyNow(SOCKET s, bool write) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval none{0, 0};
  const int rc = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &none);
  if (rc == SOCKET_ERROR) ThrowSocketError();
  return rc > 0;
}

// Waits until the socket is ready, the deadline passes (none: no limit) or
// the cancel is set. The socket's network events and the cancel's event
// wake the wait; it also looks again every kRecheckMs, as a write's event
// is only recorded after a send that found the buffer full.
WaitOutcome WaitFor(SOCKET s, bool write, const SteadyClock::time_point* deadline, const SocketCancel* cancel) {
  if (cancel && cancel->IsSet()) return WaitOutcome::Cancelled;
  if (ReadyNow(s, write)) return WaitOutcome::Ready;
  WSAEVENT event = ::WSACreateEvent();
  if (event == WSA_INVALID_EVENT) ThrowSocketError();
  const long events = write ? (FD_WRITE | FD_CLOSE) : (FD_READ | FD_ACCEPT | FD_CLOSE);
  if (::WSAEventSelect(s, event, events) != 0) {
    const int e = ::WSAGetLastError();
    ::WSACloseEvent(event);
    ThrowError(e);
  }
  HANDLE handles[2] = {event, cancel ? reinterpret_cast<HANDLE>(cancel->WaitHandle()) : nullptr};
  WaitOutcome outcome = WaitOutcome::TimedOut;
  for (;;) {
    if (cancel && cancel->IsSet()) {
      outcome = WaitOutcome::Cancelled;
      break;
    }
    if (ReadyNow(s, write)) {
      outcome = WaitOutcome::Ready;
      break;
    }
    DWORD waitMs = kRecheckMs;
    if (deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - SteadyClock::now()).count();
      if (left <= 0) break;
      // Rounded up so that the last wait does not end a little early.
      if (left + 1 < waitMs) waitMs = static_cast<DWORD>(left) + 1;
    }
    ::WaitForMultipleObjects(cancel ? 2 : 1, handles, FALSE, waitMs);
    ::WSAResetEvent(event);
  }
  // The socket stays non-blocking without its event.
  ::WSAEventSelect(s, nullptr, 0);
  ::WSACloseEvent(event);
  return outcome;
}

uint16_t LocalPort(SOCKET s) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    if (::WSAGetLastError() == WSAEINVAL) return 0;  // not bound yet
    ThrowSocketError();
  }
  return ntohs(sa.sin_port);
}

// A socket that is closed unless released, for the set-up steps.
class SocketGuard {
 public:
  explicit SocketGuard(SOCKET s) : s_(s) {}
  ~SocketGuard() {
    if (s_ != INVALID_SOCKET) ::closesocket(s_);
  }
  SocketGuard(const SocketGuard&) = delete;
  SocketGuard& operator=(const SocketGuard&) = delete;
  SOCKET Get() const { return s_; }
  SOCKET Release() {
    SOCKET s = s_;
    s_ = INVALID_SOCKET;
    return s;
  }

 private:
  SOCKET s_;
};

SOCKET NewSocket(int type) {
  StartWinsock();
  SOCKET s = ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) ThrowSocketError();
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    const int e = ::WSAGetLastError();
    ::closesocket(s);
    ThrowError(e);
  }
  return s;
}

void SetIntOption(SOCKET s, int level, int name, int value) {
  if (::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) != 0) ThrowSocketError();
}

// A datagram to a closed port comes back as an ICMP message that Windows
// reports on the next receive as a reset; a server must not stop for that.
void IgnoreUdpResets(SOCKET s) {
  BOOL report = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
}

}  // namespace

// ---- SocketCancel

SocketCancel::SocketCancel() {
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) ThrowError(LastErrorCode());
  readHandle_ = reinterpret_cast<intptr_t>(event);
  writeHandle_ = readHandle_;
}

SocketCancel::~SocketCancel() { ::CloseHandle(reinterpret_cast<HANDLE>(readHandle_)); }

void SocketCancel::Set() {
  if (set_.exchange(true)) return;
  ::SetEvent(reinterpret_cast<HANDLE>(writeHandle_));
}

bool SocketCancel::Wait(uint32_t timeoutMs) const {
  if (IsSet()) return true;
  ::WaitForSingleObject(reinterpret_cast<HANDLE>(readHandle_), timeoutMs);
  return IsSet();
}

// ---- TcpConnection

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::Close() {
  if (handle_ != Handle(INVALID_SOCKET)) ::closesocket(Sock(handle_));
  handle_ = Handle(INVALID_SOCKET);
}

TcpConnection::LineResult TcpConnection::ReadLine(std::string& line, size_t maxLength, uint32_t timeoutMs,
                                                  const SocketCancel* cancel) {
  line.clear();
  if (handle_ == Handle(INVALID_SOCKET)) ThrowError(WSAENOTSOCK);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[4096];
  for (;;) {
    if (auto decided = TakePendingLine(pending_, maxLength, line)) return *decided;
    if (cancel && cancel->IsSet()) return LineResult::Cancelled;
    const size_t want = NextReadSize(pending_, maxLength, sizeof buf);
    const int n = ::recv(Sock(handle_), buf, static_cast<int>(want), 0);
    if (n == 0) return LineResult::Closed;
    if (n == SOCKET_ERROR) {
      const int e = ::WSAGetLastError();
      // A peer that resets the connection has closed it, abruptly.
      if (e == WSAECONNRESET || e == WSAECONNABORTED) return LineResult::Closed;
      if (e != WSAEWOULDBLOCK) ThrowError(e);
      switch (WaitFor(Sock(handle_), false, &deadline, cancel)) {
        case WaitOutcome::TimedOut: return LineResult::TimedOut;
        case WaitOutcome::Cancelled: return LineResult::Cancelled;
        case WaitOutcome::Ready: break;
      }
      continue;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

void TcpConnection::Write(const std::string& bytes, uint32_t timeoutMs, const SocketCancel* cancel) {
  if (handle_ == Handle(INVALID_SOCKET)) ThrowError(WSAENOTSOCK);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < bytes.size()) {
    size_t chunk = bytes.size() - done;
    if (chunk > 0x10000000u) chunk = 0x10000000u;
    const int n = ::send(Sock(handle_), bytes.data() + done, static_cast<int>(chunk), 0);
    if (n != SOCKET_ERROR) {
      done += static_cast<size_t>(n);
      continue;
    }
    const int e = ::WSAGetLastError();
    if (e != WSAEWOULDBLOCK) ThrowError(e);
    switch (WaitFor(Sock(handle_), true, &deadline, cancel)) {
      case WaitOutcome::TimedOut: throw Exception("send timed out");
      case WaitOutcome::Cancelled: throw Exception("send cancelled");
      case WaitOutcome::Ready: break;
    }
  }
}

bool IsDescriptorShortage(int osErrorCode) { return osErrorCode == WSAEMFILE || osErrorCode == WSAENOBUFS; }

// ---- TcpListener

std::unique_ptr<TcpListener> TcpListener::Listen(const std::string& address, uint16_t port, int backlog) {
  const sockaddr_in sa = MakeAddress(address, port);
  SocketGuard s(NewSocket(SOCK_STREAM));
  // Windows lets a new listener take a port in TIME_WAIT without
  // SO_REUSEADDR, which here would let a second listener share a live port;
  // exclusive use keeps the rule that one port has one listener.
  SetIntOption(s.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
  if (::bind(s.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) ThrowSocketError();
  if (::listen(s.Get(), backlog) != 0) ThrowSocketError();
  const uint16_t actual = LocalPort(s.Get());
  return std::unique_ptr<TcpListener>(new TcpListener(Handle(s.Release()), actual));
}

TcpListener::~TcpListener() { ::closesocket(Sock(handle_)); }

std::unique_ptr<TcpConnection> TcpListener::Accept(const SocketCancel* cancel) {
  for (;;) {
    if (cancel && cancel->IsSet()) return nullptr;
    sockaddr_in peer{};
    int len = sizeof peer;
    SOCKET s = ::accept(Sock(handle_), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s != INVALID_SOCKET) {
      // An accepted socket inherits the listener's non-blocking mode.
      ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      return std::unique_ptr<TcpConnection>(new TcpConnection(Handle(s), AddressText(peer)));
    }
    const int e = ::WSAGetLastError();
    if (e == WSAEWOULDBLOCK) {
      if (WaitFor(Sock(handle_), false, nullptr, cancel) == WaitOutcome::Cancelled) return nullptr;
      continue;
    }
    // A connection that vanished between the wake-up and the accept.
    if (e == WSAECONNRESET || e == WSAEINTR) continue;
    ThrowError(e);
  }
}

// ---- UdpSocket

std::unique_ptr<UdpSocket> UdpSocket::Bind(const std::string& address, uint16_t port, bool broadcast) {
  const sockaddr_in sa = MakeAddress(address, port);
  SocketGuard s(NewSocket(SOCK_DGRAM));
  SetIntOption(s.Get(), SOL_SOCKET, SO_BROADCAST, broadcast ? 1 : 0);
  SetIntOption(s.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
  IgnoreUdpResets(s.Get());
  if (::bind(s.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) ThrowSocketError();
  return std::unique_ptr<UdpSocket>(new UdpSocket(Handle(s.Release())));
}

std::unique_ptr<UdpSocket> UdpSocket::Open(bool broadcast) {
  SocketGuard s(NewSocket(SOCK_DGRAM));
  SetIntOption(s.Get(), SOL_SOCKET, SO_BROADCAST, broadcast ? 1 : 0);
  IgnoreUdpResets(s.Get());
  return std::unique_ptr<UdpSocket>(new UdpSocket(Handle(s.Release())));
}

UdpSocket::~UdpSocket() { ::closesocket(Sock(handle_)); }

uint16_t UdpSocket::Port() const { return LocalPort(Sock(handle_)); }

UdpSocket::ReceiveResult UdpSocket::Receive(std::string& data, std::string& peer, size_t capacity,
                                            const SocketCancel* cancel, uint16_t* peerPort) {
  std::string buf(capacity + 1, '\0');
  for (;;) {
    if (WaitFor(Sock(handle_), false, nullptr, cancel) == WaitOutcome::Cancelled) return ReceiveResult::Cancelled;
    sockaddr_in from{};
    int len = sizeof from;
    // One byte more than the capacity: a datagram that fills it is too long.
    const int n = ::recvfrom(Sock(handle_), buf.data(), static_cast<int>(buf.size()), 0,
                             reinterpret_cast<sockaddr*>(&from), &len);
    bool truncated = false;
    if (n == SOCKET_ERROR) {
      const int e = ::WSAGetLastError();
      if (e == WSAEWOULDBLOCK || e == WSAECONNRESET || e == WSAEINTR) continue;
      if (e != WSAEMSGSIZE) ThrowError(e);
      truncated = true;
    }
    peer = AddressText(from);
    if (peerPort) *peerPort = ntohs(from.sin_port);
    if (truncated || static_cast<size_t>(n) > capacity) return ReceiveResult::Truncated;
    data.assign(buf, 0, static_cast<size_t>(n));
    return ReceiveResult::Datagram;
  }
}

void UdpSocket::SendTo(const std::string& data, const std::string& address, uint16_t port) {
  const sockaddr_in sa = MakeAddress(address, port);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(1000);
  for (;;) {
    const int n = ::sendto(Sock(handle_), data.data(), static_cast<int>(data.size()), 0,
                           reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (n != SOCKET_ERROR) return;
    const int e = ::WSAGetLastError();
    if (e != WSAEWOULDBLOCK) ThrowError(e);
    // A full send buffer drains quickly; a datagram is not worth waiting long for.
    if (WaitFor(Sock(handle_), true, &deadline, nullptr) == WaitOutcome::TimedOut) ThrowError(WSAEWOULDBLOCK);
  }
}

}  // namespace qn::platform
