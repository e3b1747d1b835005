#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "base/error.h"
#include "platform/files.h"
#include "platform/socket_address.h"
#include "platform/socket_lines.h"
#include "platform/sockets.h"

namespace qn::platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

[[noreturn]] void ThrowErrno(int code) { throw EqnOsError(ErrorText(code), code); }

int Fd(intptr_t handle) { return static_cast<int>(handle); }

enum class WaitOutcome { Ready, TimedOut, Cancelled };

// Waits until fd has the events, the deadline passes (none: wait without
// limit) or the cancel is set. Errors and hang-ups count as ready so that the
// following call reports them.
WaitOutcome WaitFor(int fd, short events, const SteadyClock::time_point* deadline, const SocketCancel* cancel) {
  for (;;) {
    if (cancel && cancel->IsSet()) return WaitOutcome::Cancelled;
    int timeout = -1;
    if (deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - SteadyClock::now()).count();
      if (left <= 0) return WaitOutcome::TimedOut;
      // Rounded up so that the last wait does not end a little early.
      timeout = static_cast<int>(left) + 1;
    }
    pollfd fds[2] = {{fd, events, 0}, {-1, POLLIN, 0}};
    if (cancel) fds[1].fd = Fd(cancel->WaitHandle());
    int rc = ::poll(fds, cancel ? 2 : 1, timeout);
    if (rc < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (cancel && (fds[1].revents != 0 || cancel->IsSet())) return WaitOutcome::Cancelled;
    if (fds[0].revents != 0) return WaitOutcome::Ready;
  }
}

uint16_t LocalPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) ThrowErrno(errno);
  return ntohs(sa.sin_port);
}

// A descriptor that is closed unless released, for the set-up steps.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

void SetIntOption(int fd, int level, int name, int value) {
  if (::setsockopt(fd, level, name, &value, sizeof value) != 0) ThrowErrno(errno);
}

}  // namespace

// ---- SocketCancel

SocketCancel::SocketCancel() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) ThrowErrno(errno);
  readHandle_ = fds[0];
  writeHandle_ = fds[1];
}

SocketCancel::~SocketCancel() {
  ::close(Fd(readHandle_));
  ::close(Fd(writeHandle_));
}

void SocketCancel::Set() {
  if (set_.exchange(true)) return;
  // The byte is never read: the pipe stays readable, so every later poll
  // on it returns at once.
  const char byte = 1;
  while (::write(Fd(writeHandle_), &byte, 1) < 0 && errno == EINTR) {
  }
}

bool SocketCancel::Wait(uint32_t timeoutMs) const {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (IsSet()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) return false;
    pollfd pfd{Fd(readHandle_), POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left) + 1) < 0 && errno != EINTR) return IsSet();
  }
}

// ---- TcpConnection

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::Close() {
  if (handle_ >= 0) ::close(Fd(handle_));
  handle_ = -1;
}

TcpConnection::LineResult TcpConnection::ReadLine(std::string& line, size_t maxLength, uint32_t timeoutMs,
                                                  const SocketCancel* cancel) {
  line.clear();
  if (handle_ < 0) throw EqnOsError(ErrorText(EBADF), EBADF);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[4096];
  for (;;) {
    if (auto decided = TakePendingLine(pending_, maxLength, line)) return *decided;
    if (cancel && cancel->IsSet()) return LineResult::Cancelled;
    const size_t want = NextReadSize(pending_, maxLength, sizeof buf);
    // The data is usually there already; poll only when it is not.
    ssize_t n = ::recv(Fd(handle_), buf, want, 0);
    if (n == 0) return LineResult::Closed;
    if (n < 0) {
      if (errno == EINTR) continue;
      // A peer that resets the connection has closed it, abruptly.
      if (errno == ECONNRESET) return LineResult::Closed;
      if (errno != EAGAIN && errno != EWOULDBLOCK) ThrowErrno(errno);
      switch (WaitFor(Fd(handle_), POLLIN, &deadline, cancel)) {
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
  if (handle_ < 0) throw EqnOsError(ErrorText(EBADF), EBADF);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(Fd(handle_), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) ThrowErrno(errno);
    switch (WaitFor(Fd(handle_), POLLOUT, &deadline, cancel)) {
      case WaitOutcome::TimedOut: throw Exception("send timed out");
      case WaitOutcome::Cancelled: throw Exception("send cancelled");
      case WaitOutcome::Ready: break;
    }
  }
}

bool IsDescriptorShortage(int osErrorCode) { return osErrorCode == EMFILE || osErrorCode == ENFILE; }

// ---- TcpListener

std::unique_ptr<TcpListener> TcpListener::Listen(const std::string& address, uint16_t port, int backlog) {
  const sockaddr_in sa = MakeAddress(address, port);
  FdGuard fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) ThrowErrno(errno);
  SetIntOption(fd.Get(), SOL_SOCKET, SO_REUSEADDR, 1);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) ThrowErrno(errno);
  if (::listen(fd.Get(), backlog) != 0) ThrowErrno(errno);
  const uint16_t actual = LocalPort(fd.Get());
  return std::unique_ptr<TcpListener>(new TcpListener(fd.Release(), actual));
}

TcpListener::~TcpListener() { ::close(Fd(handle_)); }

std::unique_ptr<TcpConnection> TcpListener::Accept(const SocketCancel* cancel) {
  for (;;) {
    if (cancel && cancel->IsSet()) return nullptr;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    // Under load a connection is usually waiting; poll only when none is.
    int fd = ::accept4(Fd(handle_), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) return std::unique_ptr<TcpConnection>(new TcpConnection(fd, AddressText(peer)));
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (WaitFor(Fd(handle_), POLLIN, nullptr, cancel) == WaitOutcome::Cancelled) return nullptr;
      continue;
    }
    // A connection that vanished between the wake-up and the accept.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    ThrowErrno(errno);
  }
}

// ---- UdpSocket

std::unique_ptr<UdpSocket> UdpSocket::Bind(const std::string& address, uint16_t port, bool broadcast) {
  const sockaddr_in sa = MakeAddress(address, port);
  FdGuard fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) ThrowErrno(errno);
  SetIntOption(fd.Get(), SOL_SOCKET, SO_BROADCAST, broadcast ? 1 : 0);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) ThrowErrno(errno);
  return std::unique_ptr<UdpSocket>(new UdpSocket(fd.Release()));
}

std::unique_ptr<UdpSocket> UdpSocket::Open(bool broadcast) {
  FdGuard fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) ThrowErrno(errno);
  SetIntOption(fd.Get(), SOL_SOCKET, SO_BROADCAST, broadcast ? 1 : 0);
  return std::unique_ptr<UdpSocket>(new UdpSocket(fd.Release()));
}

UdpSocket::~UdpSocket() { ::close(Fd(handle_)); }

uint16_t UdpSocket::Port() const { return LocalPort(Fd(handle_)); }

UdpSocket::ReceiveResult UdpSocket::Receive(std::string& data, std::string& peer, size_t capacity,
                                            const SocketCancel* cancel, uint16_t* peerPort) {
  std::string buf(capacity, '\0');
  for (;;) {
    if (WaitFor(Fd(handle_), POLLIN, nullptr, cancel) == WaitOutcome::Cancelled) return ReceiveResult::Cancelled;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    // MSG_TRUNC makes the kernel report the datagram's real length, so an
    // oversize one is told apart from one that just fills the buffer.
    ssize_t n = ::recvfrom(Fd(handle_), buf.data(), buf.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      ThrowErrno(errno);
    }
    peer = AddressText(from);
    if (peerPort) *peerPort = ntohs(from.sin_port);
    if (static_cast<size_t>(n) > capacity) return ReceiveResult::Truncated;
    data.assign(buf, 0, static_cast<size_t>(n));
    return ReceiveResult::Datagram;
  }
}

void UdpSocket::SendTo(const std::string& data, const std::string& address, uint16_t port) {
  const sockaddr_in sa = MakeAddress(address, port);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(1000);
  for (;;) {
    ssize_t n = ::sendto(Fd(handle_), data.data(), data.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa),
                         sizeof sa);
    if (n >= 0) return;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) ThrowErrno(errno);
    // A full send buffer drains quickly; a datagram is not worth waiting long for.
    if (WaitFor(Fd(handle_), POLLOUT, &deadline, nullptr) == WaitOutcome::TimedOut) ThrowErrno(EAGAIN);
  }
}

}  // namespace qn::platform
