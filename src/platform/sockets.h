// IPv4 sockets of the platform layer: a TCP listener with line-oriented
// connections, and UDP sockets that send and receive whole datagrams.
//
// Every wait is bounded by a time limit and/or a SocketCancel, so a thread
// blocked in Accept, ReadLine or Receive can be released for shutdown by
// another thread. Addresses are dotted IPv4 texts ("127.0.0.1"); an empty
// address means all local IPv4 addresses. Failures of the operating system
// are thrown as EqnOsError with its text; an address that is not a dotted
// IPv4 text is thrown as Exception("invalid IPv4 address <text>").
//
// A socket object belongs to one thread at a time, except that Stop-style
// calls (SocketCancel::Set) may come from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qn::platform {

// A one-way switch that wakes every socket wait given it. Once set it stays
// set; all waits that take it return at once from then on.
class SocketCancel {
 public:
  SocketCancel();  // throws EqnOsError
  ~SocketCancel();
  SocketCancel(const SocketCancel&) = delete;
  SocketCancel& operator=(const SocketCancel&) = delete;

  void Set();  // any thread, any number of times
  bool IsSet() const { return set_.load(); }
  // Waits until set or until the time has passed; true when set.
  bool Wait(uint32_t timeoutMs) const;
  // The object a wait can watch (a pipe's read end here, an event on Win32).
  intptr_t WaitHandle() const { return readHandle_; }

 private:
  std::atomic<bool> set_{false};
  intptr_t readHandle_;
  intptr_t writeHandle_;
};

// One accepted TCP connection. Destroying it closes it.
class TcpConnection {
 public:
  enum class LineResult {
    Line,       // a line was read
    TimedOut,   // the time ran out; the line is empty
    TooLong,    // more than maxLength bytes came before a line feed
    Closed,     // the peer closed (or reset) the connection before a line feed
    Cancelled,  // the SocketCancel was set
  };

  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // The peer's IPv4 address as dotted text.
  const std::string& PeerAddress() const { return peer_; }

  // Reads the bytes up to the first line feed, without it and without a
  // carriage return right before it. At most maxLength bytes may stand before
  // the line feed (a carriage return counts). timeoutMs bounds the whole
  // read. Bytes after the line feed are kept for the next read.
  LineResult ReadLine(std::string& line, size_t maxLength, uint32_t timeoutMs, const SocketCancel* cancel = nullptr);
  // Sends all bytes within the time limit; throws EqnOsError on failure,
  // Exception("send timed out") or Exception("send cancelled").
  void Write(const std::string& bytes, uint32_t timeoutMs, const SocketCancel* cancel = nullptr);
  // Closes now; later calls fail. Safe to call twice.
  void Close();

 private:
  friend class TcpListener;
  TcpConnection(intptr_t handle, std::string peer) : handle_(handle), peer_(std::move(peer)) {}
  intptr_t handle_;
  std::string peer_;
  std::string pending_;  // bytes received after the last line feed
};

// True for the code of an EqnOsError that says the process or the system
// has no descriptor (socket handle) left for a new connection.
bool IsDescriptorShortage(int osErrorCode);

// A listening TCP socket, SO_REUSEADDR set.
class TcpListener {
 public:
  // Binds to the address ("" = all) and port (0 = one the system picks) and
  // listens with the given backlog; throws EqnOsError.
  static std::unique_ptr<TcpListener> Listen(const std::string& address, uint16_t port, int backlog);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  uint16_t Port() const { return port_; }
  // Waits for the next connection; nullptr when the cancel was set. Throws
  // EqnOsError when accepting fails (for example when out of descriptors);
  // the listener stays usable.
  std::unique_ptr<TcpConnection> Accept(const SocketCancel* cancel);

 private:
  TcpListener(intptr_t handle, uint16_t port) : handle_(handle), port_(port) {}
  intptr_t handle_;
  uint16_t port_;
};

// A UDP socket, either bound to a port (to receive) or unbound (to send
// from a port the system picks).
class UdpSocket {
 public:
  enum class ReceiveResult {
    Datagram,   // data and peer filled
    Truncated,  // the datagram was larger than the capacity; it is dropped
    Cancelled,
  };

  // Binds to the address ("" = all) and port (0 = any); throws EqnOsError.
  static std::unique_ptr<UdpSocket> Bind(const std::string& address, uint16_t port, bool broadcast);
  // An unbound socket for sending.
  static std::unique_ptr<UdpSocket> Open(bool broadcast);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  uint16_t Port() const;  // the local port, 0 while unbound
  // Waits for one datagram of at most capacity bytes; peer receives the
  // sender's address as dotted text (and peerPort its port when given).
  ReceiveResult Receive(std::string& data, std::string& peer, size_t capacity, const SocketCancel* cancel,
                        uint16_t* peerPort = nullptr);
  // Sends one datagram; throws EqnOsError.
  void SendTo(const std::string& data, const std::string& address, uint16_t port);

 private:
  explicit UdpSocket(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;
};

}  // namespace qn::platform
