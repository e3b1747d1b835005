// The sockets module of the platform layer: line reading with its limits,
// cancellation of blocking waits, and UDP datagrams with their peers.
#include <gtest/gtest.h>

#include <thread>

#include "base/error.h"
#include "info_test_support.h"
#include "platform/files.h"
#include "platform/sockets.h"

namespace {

using qn::platform::SocketCancel;
using qn::platform::TcpConnection;
using qn::platform::TcpListener;
using qn::platform::UdpSocket;
using Line = TcpConnection::LineResult;

// A server-side connection and the client socket at its other end.
struct Pair {
  Pair() : listener(TcpListener::Listen("127.0.0.1", 0, 16)) {
    client = infotest::Connect(listener->Port());
    server = listener->Accept(nullptr);
  }
  ~Pair() {
    if (client >= 0) infotest::CloseSocket(client);
  }
  std::unique_ptr<TcpListener> listener;
  int client = -1;
  std::unique_ptr<TcpConnection> server;
};

TEST(Sockets, LineArrivingInPiecesWithCrLf) {
  Pair p;
  ASSERT_TRUE(p.server);
  EXPECT_EQ(p.server->PeerAddress(), "127.0.0.1");
  std::thread sender([&] {
    infotest::SendAll(p.client, "hel");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    infotest::SendAll(p.client, "lo\r\nnext\n");
  });
  std::string line;
  EXPECT_EQ(p.server->ReadLine(line, 100, 20000), Line::Line);
  EXPECT_EQ(line, "hello");
  sender.join();
  // What came after the first line feed is kept for the next read.
  EXPECT_EQ(p.server->ReadLine(line, 100, 20000), Line::Line);
  EXPECT_EQ(line, "next");
}

TEST(Sockets, OnlyTheCarriageReturnBeforeTheLineFeedGoes) {
  Pair p;
  infotest::SendAll(p.client, "a\rb\r\r\n");
  std::string line;
  EXPECT_EQ(p.server->ReadLine(line, 100, 20000), Line::Line);
  EXPECT_EQ(line, "a\rb\r");
}

TEST(Sockets, SilencePartialLinesAndHangUps) {
  {
    Pair p;
    infotest::SendAll(p.client, "no line feed");
    std::string line = "stale";
    EXPECT_EQ(p.server->ReadLine(line, 100, 50), Line::TimedOut);
    EXPECT_EQ(line, "");
  }
  {
    Pair p;
    infotest::SendAll(p.client, "half");
    ::shutdown(p.client, SHUT_WR);
    std::string line;
    EXPECT_EQ(p.server->ReadLine(line, 100, 20000), Line::Closed);
  }
}

// A workstation that is switched off mid-request resets its connection
// (RST, no FIN): that is a closed connection on every platform, not an error.
TEST(Sockets, APeerThatResetsHasClosed) {
  Pair p;
  ASSERT_TRUE(p.server);
  infotest::SendAll(p.client, "half");
  linger abort{};
  abort.l_onoff = 1;
  abort.l_linger = 0;
  ASSERT_EQ(::setsockopt(p.client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort), 0);
  infotest::CloseSocket(p.client);
  p.client = -1;
  std::string line;
  Line result = Line::Line;
  EXPECT_NO_THROW(result = p.server->ReadLine(line, 100, 20000));
  EXPECT_EQ(result, Line::Closed);
}

TEST(Sockets, WriteReachesThePeerAndCloseEndsTheStream) {
  Pair p;
  p.server->Write("reply\r\n", 10000);
  p.server->Close();
  p.server->Close();  // twice is harmless
  EXPECT_EQ(infotest::ReadToEnd(p.client), "reply\r\n");
  EXPECT_THROW(p.server->Write("x", 100), qn::EqnOsError);
}

TEST(Sockets, CancelReleasesBlockedAcceptAndRead) {
  SocketCancel cancel;
  auto listener = TcpListener::Listen("127.0.0.1", 0, 16);
  std::unique_ptr<TcpConnection> accepted;
  std::thread acceptor([&] { accepted = listener->Accept(&cancel); });
  cancel.Set();
  acceptor.join();
  EXPECT_EQ(accepted, nullptr);

  Pair p;
  SocketCancel cancel2;
  Line result = Line::Line;
  std::thread reader([&] {
    std::string line;
    result = p.server->ReadLine(line, 100, 600000, &cancel2);
  });
  cancel2.Set();
  reader.join();
  EXPECT_EQ(result, Line::Cancelled);
  EXPECT_TRUE(cancel2.Wait(0));
}

TEST(Sockets, SecondListenerOnABusyPortFailsWithTheSystemsText) {
  auto first = TcpListener::Listen("127.0.0.1", 0, 16);
  try {
    TcpListener::Listen("127.0.0.1", first->Port(), 16);
    FAIL() << "bound twice";
  } catch (const qn::EqnOsError& e) {
    EXPECT_EQ(e.what(), qn::platform::ErrorText(infotest::kAddressInUse));
    EXPECT_EQ(e.Code(), infotest::kAddressInUse);
  }
  EXPECT_THROW(TcpListener::Listen("no.such.address", 0, 16), qn::Exception);
}

TEST(Sockets, DatagramsWithTheirPeer) {
  auto server = UdpSocket::Bind("127.0.0.1", 0, true);
  infotest::UdpPeer peer;
  ASSERT_TRUE(peer.SendTo(server->Port(), "hello"));
  std::string data, from;
  uint16_t fromPort = 0;
  EXPECT_EQ(server->Receive(data, from, 8192, nullptr, &fromPort), UdpSocket::ReceiveResult::Datagram);
  EXPECT_EQ(data, "hello");
  EXPECT_EQ(from, "127.0.0.1");
  EXPECT_EQ(fromPort, peer.Port());

  auto client = UdpSocket::Open(false);
  client->SendTo("back", "127.0.0.1", peer.Port());
  EXPECT_EQ(peer.Receive(), "back");
}

}  // namespace
