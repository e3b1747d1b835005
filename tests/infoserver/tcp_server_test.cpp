// The TCP info server over real loopback connections: one request line per
// connection, its limits, its log lines, the connection bound, many
// simultaneous clients and shutdown.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif
#include <thread>

#include "base/error.h"
#include "info_test_support.h"
#include "infoserver/tcp_server.h"
#include "platform/system.h"

namespace {

using infotest::Fixture;
using infotest::Request;
using infotest::TcpExchange;

qn::TqnTcpServerOptions Loopback(uint32_t readTimeoutMs = 10000, size_t maxConnections = 4096) {
  qn::TqnTcpServerOptions o;
  o.address = "127.0.0.1";
  o.port = 0;
  o.readTimeoutMs = readTimeoutMs;
  o.maxConnections = maxConnections;
  return o;
}

// The reply a request gets, as HandleInfoPacket would frame it, with CR LF.
std::string Expected(const std::string& payload) {
  return qn::EncodePacket(payload, infotest::kKey, infotest::kInstance) + "\r\n";
}

// Waits (without a deadline of its own: the test's timeout bounds it) until
// the server holds that many connections.
void AwaitConnections(const qn::TqnInfoTcpServer& server, size_t n) {
  while (server.ActiveConnections() != n) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST(TcpServer, OneRequestOneReplyLineThenClose) {
  Fixture f;
  qn::TqnInfoTcpServer server(f.ctx, Loopback());
  const std::string line = Request("get-active-servers");
  EXPECT_EQ(TcpExchange(server.Port(), line + "\n"), Expected("active-server 0000002A OFFICE1 4"));
  EXPECT_EQ(TcpExchange(server.Port(), line + "\r\n"), Expected("active-server 0000002A OFFICE1 4"));
  EXPECT_TRUE(f.Logged("Receiving connection from 127.0.0.1"));
  EXPECT_TRUE(f.Logged("msg = " + line));
  // Only the first line of a connection counts.
  EXPECT_EQ(TcpExchange(server.Port(), line + "\n" + Request("get-fb30-support") + "\n"),
            Expected("active-server 0000002A OFFICE1 4"));
}

TEST(TcpServer, InvalidRequestIsClosedWithoutReplyAndLogged) {
  Fixture f(infotest::kRegisterXml, /*debug=*/false);
  qn::TqnInfoTcpServer server(f.ctx, Loopback());
  std::string line = Request("get-active-servers");
  line[0] = line[0] == 'a' ? 'b' : 'a';
  EXPECT_EQ(TcpExchange(server.Port(), line + "\n"), "");
  EXPECT_TRUE(f.Logged("invalid reply while handling command " + line));
  EXPECT_FALSE(f.Logged("msg = " + line));  // a debug line
}

TEST(TcpServer, LineLimitIs2048BeforeTheLineFeed) {
  Fixture f;
  qn::TqnInfoTcpServer server(f.ctx, Loopback());
  auto packetOfLength = [](size_t n) {
    std::string payload = "get-active-servers ";
    payload += std::string(n - 50 - payload.size(), 'x');
    return Request(payload);
  };
  const std::string reply = Expected("active-server 0000002A OFFICE1 4");
  EXPECT_EQ(TcpExchange(server.Port(), packetOfLength(2048) + "\n"), reply);
  EXPECT_EQ(TcpExchange(server.Port(), packetOfLength(2049) + "\n"), "");
  // With CR LF the carriage return counts towards the limit.
  EXPECT_EQ(TcpExchange(server.Port(), packetOfLength(2047) + "\r\n"), reply);
  EXPECT_EQ(TcpExchange(server.Port(), packetOfLength(2048) + "\r\n"), "");
  // A flood without any line feed is cut off too.
  EXPECT_EQ(TcpExchange(server.Port(), std::string(1 << 20, 'x')), "");
  EXPECT_FALSE(f.Logged("invalid reply while handling command " + packetOfLength(2049)));
}

TEST(TcpServer, GarbageNeverStopsTheServer) {
  Fixture f;
  qn::TqnInfoTcpServer server(f.ctx, Loopback());
  std::string binary;
  for (int c = 0; c < 256; ++c) binary += static_cast<char>(c == '\n' ? 0 : c);
  EXPECT_EQ(TcpExchange(server.Port(), binary + "\n"), "");
  EXPECT_EQ(TcpExchange(server.Port(), std::string("\0\0\0\n", 4)), "");
  EXPECT_EQ(TcpExchange(server.Port(), "\n"), "");
  // A peer that hangs up halfway through its line.
  int fd = infotest::Connect(server.Port());
  infotest::SendAll(fd, Request("get-active-servers").substr(0, 30));
  infotest::CloseSocket(fd);
  EXPECT_EQ(TcpExchange(server.Port(), Request("get-fb30-support") + "\n"), Expected("fb30-support 0"));
}

TEST(TcpServer, ErrorInACommandClosesWithoutReply) {
  Fixture f;
  int calls = 0;
  f.ctx.readSettings = [&](const std::function<void(const qn::TqnNode&)>& fn) {
    if (++calls == 1) throw qn::Exception("settings lookup failed");
    f.settings.Read(fn);
  };
  qn::TqnInfoTcpServer server(f.ctx, Loopback());
  EXPECT_EQ(TcpExchange(server.Port(), Request("get-active-servers") + "\n"), "");
  EXPECT_EQ(TcpExchange(server.Port(), Request("get-active-servers") + "\n"),
            Expected("active-server 0000002A OFFICE1 4"));
}

TEST(TcpServer, SilentConnectionIsClosedAfterTenSeconds) {
  Fixture f;
  qn::TqnInfoTcpServer server(f.ctx, Loopback());
  const int fd = infotest::Connect(server.Port());
  ASSERT_GE(fd, 0);
  // The client's own wait is longer than the server's limit.
  EXPECT_EQ(infotest::ReadToEnd(fd, 60000), "");
  infotest::CloseSocket(fd);
  EXPECT_TRUE(f.Logged("msg = "));
  EXPECT_TRUE(f.Logged("invalid reply while handling command "));
}

TEST(TcpServer, ConnectionsBeyondTheBoundAreClosedAtOnce) {
  Fixture f;
  qn::TqnInfoTcpServer server(f.ctx, Loopback(/*readTimeoutMs=*/600000, /*maxConnections=*/3));
  std::vector<int> silent;
  for (int i = 0; i < 3; ++i) silent.push_back(infotest::Connect(server.Port()));
  AwaitConnections(server, 3);
  // The silent ones would hold a fourth for ten minutes; it is closed instead.
  EXPECT_EQ(TcpExchange(server.Port(), Request("get-fb30-support") + "\n"), "");
  for (int fd : silent) infotest::CloseSocket(fd);
  AwaitConnections(server, 0);
  EXPECT_EQ(TcpExchange(server.Port(), Request("get-fb30-support") + "\n"), Expected("fb30-support 0"));
}

TEST(TcpServer, ThousandSimultaneousClientsAllAnsweredWhileOneStaysSilent) {
  Fixture f(infotest::kRegisterXml, /*debug=*/false);
  qn::TqnInfoTcpServer server(f.ctx, Loopback(/*readTimeoutMs=*/600000));
  const int silent = infotest::Connect(server.Port());
  ASSERT_GE(silent, 0);
  AwaitConnections(server, 1);

  // An office of many workstations: clients from 50 addresses at once. Each
  // takes a descriptor on both ends here; a process whose hard limit of open
  // files is too low for that (ulimit -n 1024) runs as many as it can.
  const uint64_t limit = qn::platform::RaiseOpenFileLimit();
  int clients = 1000;
  if (limit != 0 && limit < 2 * 1000 + 100) clients = static_cast<int>((limit - 100) / 2);
  if (clients < 1000)
    std::printf("open files limit %llu: %d clients\n", static_cast<unsigned long long>(limit), clients);
  std::vector<int> fds;
  for (int i = 0; i < clients; ++i) {
    const std::string source = "127.0.1." + std::to_string(1 + i % 50);
    int fd = infotest::Connect(server.Port(), source.c_str());
    ASSERT_GE(fd, 0) << "connection " << i << " refused";
    fds.push_back(fd);
  }
  // All are open at once before any sends its request.
  AwaitConnections(server, clients + 1);
  for (int i = 0; i < clients; ++i)
    ASSERT_TRUE(infotest::SendAll(fds[i], Request("get-database-info-by-num 0 V3", i) + "\r\n"));

  int answered = 0;
  for (int i = 0; i < clients; ++i) {
    const std::string expected = Expected("database-info " + qn::HexUpper(static_cast<uint32_t>(i), 8) +
                                          " 0 db0000 Main#20base OFFICE1:C:\\Data\\tx.fdb SYSDBA pass word");
    if (infotest::ReadToEnd(fds[i]) == expected) ++answered;
    infotest::CloseSocket(fds[i]);
  }
  EXPECT_EQ(answered, clients);
  EXPECT_GE(server.ActiveConnections(), 1u);  // the silent client is still held
  infotest::CloseSocket(silent);
}

// One machine that opens connections and stays silent holds at most its
// own share: workstations on other machines are still answered, and the
// machine itself again once its connections are gone.
TEST(TcpServer, ASilentMachineCannotTakeEveryConnection) {
  Fixture f;
  auto options = Loopback(/*readTimeoutMs=*/600000, /*maxConnections=*/100);
  options.maxConnectionsPerPeer = 8;
  qn::TqnInfoTcpServer server(f.ctx, options);
  std::vector<int> silent;
  for (int i = 0; i < 20; ++i) silent.push_back(infotest::Connect(server.Port(), "127.0.2.1"));
  AwaitConnections(server, 8);
  const int other = infotest::Connect(server.Port(), "127.0.2.2");
  ASSERT_TRUE(infotest::SendAll(other, Request("get-fb30-support") + "\n"));
  EXPECT_EQ(infotest::ReadToEnd(other), Expected("fb30-support 0"));
  infotest::CloseSocket(other);
  // The other's thread counts itself out just after it has closed: wait for
  // that (a machine beyond its share would leave more than 8 for good).
  AwaitConnections(server, 8);
  for (int fd : silent) infotest::CloseSocket(fd);
  AwaitConnections(server, 0);
  const int again = infotest::Connect(server.Port(), "127.0.2.1");
  ASSERT_TRUE(infotest::SendAll(again, Request("get-fb30-support") + "\n"));
  EXPECT_EQ(infotest::ReadToEnd(again), Expected("fb30-support 0"));
  infotest::CloseSocket(again);
}

#ifndef _WIN32
// Out of descriptors, a connection waits unaccepted: the server says so
// once (its reserve lets it write the line, which itself needs
// descriptors), and once more when it takes connections again.
TEST(TcpServer, RunningOutOfDescriptorsIsToldOnceAndAcceptingResumes) {
  Fixture f(infotest::kRegisterXml, /*debug=*/false);
  qn::TqnInfoTcpServer server(f.ctx, Loopback());
  auto lines = [&](const std::string& start) {
    size_t n = 0;
    for (const auto& t : f.LogTexts()) n += t.rfind(start, 0) == 0;
    return n;
  };
  const std::string failed = "can not accept connections on TCP port " + std::to_string(server.Port()) + ": ";
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(::dup(0)) + 64;  // the lowest free number, and room above it
  ::close(static_cast<int>(low.rlim_cur - 64));
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> fillers;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
  ::close(fillers.back());
  fillers.pop_back();
  const int client = infotest::Connect(server.Port());  // takes the last one
  const bool connected = client >= 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (connected && lines(failed) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // more failed attempts, told no more
  for (int fd : fillers) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_TRUE(connected);

  ASSERT_TRUE(infotest::SendAll(client, Request("get-fb30-support") + "\n"));
  EXPECT_EQ(infotest::ReadToEnd(client), Expected("fb30-support 0"));
  infotest::CloseSocket(client);
  EXPECT_EQ(lines(failed), 1u) << ::testing::PrintToString(f.LogTexts());
  for (const auto& t : f.LogTexts()) {
    if (t.rfind(failed, 0) == 0) {
      EXPECT_NE(t.find("the open files limit is reached"), std::string::npos) << t;
    }
    // The attempts that were not told are counted in the line of the end.
    const std::string again = "accepting connections again after ";
    if (t.rfind(again, 0) == 0) {
      EXPECT_GE(std::atoi(t.c_str() + again.size()), 2) << t;
    }
  }
  EXPECT_EQ(lines("accepting connections again after "), 1u) << ::testing::PrintToString(f.LogTexts());
}
#endif

// Only the office's machines get database passwords: a peer outside
// "allow-peers" is closed unread, and told in the log (folded under a flood).
TEST(TcpServer, PeersOutsideTheAllowedNetworksAreClosedUnanswered) {
  Fixture f(infotest::kRegisterXml, /*debug=*/false);
  auto options = Loopback();
  options.peers = qn::TqnPeerFilter::FromSetting("127.0.3.1, 127.0.4.0/24");
  qn::TqnInfoTcpServer server(f.ctx, options);
  auto ask = [&](const char* source) {
    const int fd = infotest::Connect(server.Port(), source);
    if (fd < 0) return std::string("<no connect>");
    infotest::SendAll(fd, Request("get-fb30-support") + "\n");
    std::string reply = infotest::ReadToEnd(fd);
    infotest::CloseSocket(fd);
    return reply;
  };
  EXPECT_EQ(ask("127.0.3.1"), Expected("fb30-support 0"));
  EXPECT_EQ(ask("127.0.4.200"), Expected("fb30-support 0"));
  for (int i = 0; i < 7; ++i) EXPECT_EQ(ask("127.0.3.2"), "");
  std::vector<std::string> refused;
  for (const auto& t : f.LogTexts())
    if (t.find("refused") != std::string::npos) refused.push_back(t);
  EXPECT_EQ(refused, std::vector<std::string>(5, "refused connection from 127.0.3.2, not in allow-peers"));
}

// A flood of bad packets from one peer leaves a few short lines and one
// summary, not a record of each packet.
TEST(RefusalLog, AFloodFromOnePeerIsFoldedIntoASummary) {
  Fixture f(infotest::kRegisterXml, /*debug=*/false);
  qn::TqnRefusalLog refusals;
  const auto start = qn::TqnRefusalLog::Clock::now();
  const std::string packet(2000, 'x');
  for (int i = 0; i < 1000; ++i) refusals.Refused(f.ctx, "10.0.0.9", packet, start);
  refusals.Refused(f.ctx, "10.0.0.7", "other", start);
  refusals.Refused(f.ctx, "10.0.0.9", "late", start + std::chrono::seconds(61));
  const std::string bounded = "invalid reply while handling command " + std::string(120, 'x') + "...";
  std::vector<std::string> expected(5, bounded);
  expected.push_back("invalid reply while handling command other");
  expected.push_back("995 more invalid packets from 10.0.0.9 in 61 s were not logged");
  expected.push_back("invalid reply while handling command late");
  EXPECT_EQ(f.LogTexts(), expected);
}

TEST(TcpServer, ShutdownClosesWaitingConnections) {
  Fixture f;
  auto server = std::make_unique<qn::TqnInfoTcpServer>(f.ctx, Loopback(/*readTimeoutMs=*/600000));
  const int a = infotest::Connect(server->Port());
  const int b = infotest::Connect(server->Port());
  infotest::SendAll(b, "half a line");
  AwaitConnections(*server, 2);
  server.reset();
  EXPECT_EQ(infotest::ReadToEnd(a, 60000), "");
  EXPECT_EQ(infotest::ReadToEnd(b, 60000), "");
  infotest::CloseSocket(a);
  infotest::CloseSocket(b);
}

}  // namespace
