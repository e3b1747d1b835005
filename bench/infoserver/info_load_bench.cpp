// Load benchmark of the TCP info server, run by hand:
//
//   info_load_bench [seconds-per-run]     (default 5)
//
// For N = 1, 50 and 200 concurrent clients, each client sends
// "get-database-info-by-num 0 V3" over a new connection per request for the
// given time, and the requests per second and the p50/p99 latencies are
// printed. The same clients then run against a minimal loopback server that
// answers a fixed line of the same length (accepting threads, no parsing,
// no check sum): the floor of this machine, for comparison.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "infoserver/info_packet.h"
#include "infoserver/tcp_server.h"
#include "ipc/log.h"
#include "platform/files.h"
#include "platform/system.h"
#include "xml/xml_parser.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kKey = "JD_LW4";

const char* kSettings =
    "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"
    "<settings><PIN>JD_LW4</PIN><data>"
    "<db0000><path>localhost/53030:C:\\QN\\data\\tx.fd3</path><user>SYSDBA</user><pwd>quillfern</pwd>"
    "<caption>Main base</caption><backup><path>C:\\QN\\backup\\0000</path></backup></db0000>"
    "<db0001><path>localhost:C:\\QN\\data\\old.fdb</path><user>SYSDBA</user><pwd>quillfern</pwd></db0001>"
    "</data></settings>";

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

// One request over a new connection; the bytes until the server closes.
bool Exchange(uint16_t port, const std::string& request, std::string& reply) {
  reply.clear();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in sa = Loopback(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
  char buf[4096];
  while (ok) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0) ok = false;
    if (n <= 0) break;
    reply.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

struct RunResult {
  double perSecond = 0;
  double p50Us = 0, p99Us = 0;
  long errors = 0;
};

RunResult Load(uint16_t port, int clients, double seconds, const std::string& request, const std::string& expected) {
  std::vector<std::vector<double>> latencies(clients);
  std::atomic<long> errors{0};
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      std::string reply;
      while (Clock::now() < end) {
        const auto t0 = Clock::now();
        const bool ok = Exchange(port, request, reply);
        const auto t1 = Clock::now();
        if (!ok || reply != expected) {
          ++errors;
          continue;
        }
        latencies[c].push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
      }
    });
  }
  for (auto& t : threads) t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> all;
  for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  std::sort(all.begin(), all.end());
  RunResult r;
  r.errors = errors;
  r.perSecond = static_cast<double>(all.size()) / elapsed;
  if (!all.empty()) {
    r.p50Us = all[all.size() / 2];
    r.p99Us = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  }
  return r;
}

// The floor: threads blocked in accept on one socket, each reading up to
// the line feed and answering a fixed text.
class FloorServer {
 public:
  FloorServer(std::string reply, int threads) : reply_(std::move(reply)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = Loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd_, 4096);
    socklen_t len = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Serve(); });
  }
  ~FloorServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);  // wakes the blocked accepts
    for (auto& t : threads_) t.join();
    ::close(fd_);
  }
  uint16_t Port() const { return port_; }

 private:
  void Serve() {
    char buf[4096];
    while (!stop_) {
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string line;
      for (;;) {
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
        if (line.find('\n') != std::string::npos) {
          ::send(c, reply_.data(), reply_.size(), MSG_NOSIGNAL);
          break;
        }
      }
      ::close(c);
    }
  }
  std::string reply_;
  int fd_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;

  auto root = qn::XmlLoadStream(kSettings, "settings");
  std::shared_mutex settingsLock;
  qn::platform::SystemClock clock;
  const std::string logFolder = qn::platform::TempFolder() + "qn-info-bench";
  qn::TqnLog log(logFolder, /*debugFlag=*/false, clock, nullptr);

  qn::TqnInfoContext ctx;
  ctx.packetKey = kKey;
  ctx.instanceNumber = 0x5EED;
  ctx.address.localHostName = qn::platform::HostName();
  ctx.log = &log;
  ctx.clock = &clock;
  ctx.readSettings = [&](const std::function<void(const qn::TqnNode&)>& fn) {
    std::shared_lock<std::shared_mutex> lock(settingsLock);
    fn(*root);
  };

  qn::TqnTcpServerOptions options;
  options.address = "127.0.0.1";
  options.port = 0;
  // Every client comes from 127.0.0.1 here, standing for a whole office.
  options.maxConnectionsPerPeer = options.maxConnections;
  qn::TqnInfoTcpServer server(ctx, options);

  const std::string request = qn::EncodePacket("get-database-info-by-num 0 V3", kKey, 0x2A) + "\r\n";
  std::string expected;
  if (!Exchange(server.Port(), request, expected) || expected.size() < 3) {
    std::fprintf(stderr, "the info server did not answer\n");
    return 1;
  }
  std::printf("reply (%zu bytes): %s", expected.size(), expected.c_str());
  FloorServer floor(expected, 64);

  std::printf("%.1f s per run, a new TCP connection per request, loopback, %u cores\n\n", seconds,
              std::thread::hardware_concurrency());
  std::printf("%8s | %12s %9s %9s %6s | %12s %9s %9s %6s\n", "clients", "info req/s", "p50 us", "p99 us", "errors",
              "floor req/s", "p50 us", "p99 us", "errors");
  for (int clients : {1, 50, 200}) {
    const RunResult info = Load(server.Port(), clients, seconds, request, expected);
    const RunResult base = Load(floor.Port(), clients, seconds, request, expected);
    std::printf("%8d | %12.0f %9.0f %9.0f %6ld | %12.0f %9.0f %9.0f %6ld\n", clients, info.perSecond, info.p50Us,
                info.p99Us, info.errors, base.perSecond, base.p50Us, base.p99Us, base.errors);
  }
  return 0;
}
