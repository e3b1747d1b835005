// StartInfoServers: flag files, port settings, the 1024 floor and ports
// that cannot be bound.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "info_test_support.h"
#include "infoserver/info_servers.h"
#include "platform/files.h"
#include "test_support/listening_port.h"

namespace {

using infotest::Fixture;

// A register whose settings name the ports.
std::string PortsXml(const std::string& udp, const std::string& tcp) {
  std::string xml = "<settings><data><db0000><path>x</path></db0000></data>";
  if (!udp.empty()) xml += "<udp-port>" + udp + "</udp-port>";
  if (!tcp.empty()) xml += "<tcp-port>" + tcp + "</tcp-port>";
  return xml + "</settings>";
}

qn::TqnInfoServers Start(Fixture& f) {
  qn::TqnInfoServersOptions o;
  o.programFolder = f.dir.path();
  o.address = "127.0.0.1";
  return qn::StartInfoServers(f.ctx, o);
}

void Touch(const std::string& path) { std::ofstream(path) << ""; }

std::vector<std::string> StartLines(const Fixture& f) {
  std::vector<std::string> lines;
  for (const auto& t : f.LogTexts())
    if (t.find("info server on") != std::string::npos) lines.push_back(t);
  return lines;
}

TEST(StartInfoServers, BothOnTheConfiguredPorts) {
  const std::string port = std::to_string(ListeningPort());
  Fixture f(PortsXml(port, port), /*debug=*/false);
  auto servers = Start(f);
  ASSERT_TRUE(servers.udp && servers.tcp);
  EXPECT_EQ(std::to_string(servers.udp->Port()), port);
  EXPECT_EQ(std::to_string(servers.tcp->Port()), port);
  EXPECT_EQ(StartLines(f), (std::vector<std::string>{"started info server on UDP port " + port,
                                                     "started info server on TCP port " + port}));
  const std::string reply = infotest::TcpExchange(servers.tcp->Port(), infotest::Request("get-active-servers") + "\n");
  EXPECT_EQ(infotest::ReplyPayload(reply.substr(0, reply.size() - 2)), "active-server 0000002A OFFICE1 1");
}

TEST(StartInfoServers, FlagFilesSkipOneServerEach) {
  const std::string port = std::to_string(ListeningPort());
  {
    Fixture f(PortsXml(port, port), false);
    Touch(f.dir.File("ignore-udp.txt"));
    auto servers = Start(f);
    EXPECT_FALSE(servers.udp);
    ASSERT_TRUE(servers.tcp);
    EXPECT_EQ(StartLines(f), std::vector<std::string>{"started info server on TCP port " + port});
  }
  {
    Fixture f(PortsXml(port, port), false);
    Touch(f.dir.File("ignore-tcp.txt"));
    auto servers = Start(f);
    ASSERT_TRUE(servers.udp);
    EXPECT_FALSE(servers.tcp);
    EXPECT_EQ(StartLines(f), std::vector<std::string>{"started info server on UDP port " + port});
  }
}

TEST(StartInfoServers, PortsAtOrBelow1024AndNonNumbersStayOff) {
  const std::string port = std::to_string(ListeningPort());
  {
    Fixture f(PortsXml("1024", port), false);
    auto servers = Start(f);
    EXPECT_FALSE(servers.udp);
    EXPECT_TRUE(servers.tcp);
    EXPECT_EQ(StartLines(f), std::vector<std::string>{"started info server on TCP port " + port});
  }
  {
    Fixture f(PortsXml(port, "abc"), false);  // not a number counts as 0
    auto servers = Start(f);
    EXPECT_TRUE(servers.udp);
    EXPECT_FALSE(servers.tcp);
    EXPECT_EQ(StartLines(f), std::vector<std::string>{"started info server on UDP port " + port});
  }
}

TEST(StartInfoServers, WithoutPortSettingsThePortIs7983) {
  Fixture f(PortsXml("", ""), false);
  auto servers = Start(f);
  // The port may be taken on this machine; either way the line names 7983.
  for (const auto& line : StartLines(f)) EXPECT_NE(line.find(" port 7983"), std::string::npos) << line;
  EXPECT_EQ(StartLines(f).size(), 2u);
}

TEST(StartInfoServers, PortsThatCannotBeBoundAreLoggedAndTheRestGoesOn) {
  const uint16_t port = ListeningPort();
  const std::string p = std::to_string(port);
  // Take the UDP port; TCP on the same number still starts.
  int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa = infotest::Loopback(port);
  ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  {
    Fixture f(PortsXml(p, p), false);
    auto servers = Start(f);
    EXPECT_FALSE(servers.udp);
    EXPECT_TRUE(servers.tcp);
    const std::string inUse = qn::platform::ErrorText(infotest::kAddressInUse);
    EXPECT_EQ(StartLines(f), (std::vector<std::string>{"can not start info server on UDP port " + p + ": " + inUse,
                                                       "started info server on TCP port " + p}));
    // Now the TCP port is taken too, by the server above.
    Fixture g(PortsXml(p, p), false);
    auto second = Start(g);
    EXPECT_FALSE(second.udp || second.tcp);
    EXPECT_EQ(StartLines(g).back(), "can not start info server on TCP port " + p + ": " + inUse);
  }
  infotest::CloseSocket(udp);
  Fixture h(PortsXml("70000", ""), false);
  Start(h);
  EXPECT_EQ(StartLines(h).front(), "can not start info server on UDP port 70000: port out of range");
}

}  // namespace
