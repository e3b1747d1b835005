// The UDP info server over loopback: datagrams handled on the main thread
// one at a time, replies from a separate socket to the reply port, the size
// limits, swallowed errors and shutdown while the main thread is busy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "base/error.h"
#include "info_test_support.h"
#include "infoserver/udp_server.h"
#include "test_support/main_loop.h"

namespace {

using infotest::Fixture;
using infotest::ReplyPayload;
using infotest::Request;

// A main thread of its own running a TestMainLoop.
class MainThread {
 public:
  MainThread()
      : thread_([this] {
          id_ = std::this_thread::get_id();
          ready_ = true;
          loop_.Run();
        }) {
    while (!ready_) std::this_thread::yield();
  }
  ~MainThread() {
    loop_.Quit();
    thread_.join();
  }
  qn::TqnMainThreadRunner Runner() {
    return [this](const std::function<void()>& work) { loop_.RunAndWait(work); };
  }
  std::thread::id Id() const { return id_; }

 private:
  TestMainLoop loop_;
  std::atomic<bool> ready_{false};
  std::thread::id id_;
  std::thread thread_;
};

// A server on a free loopback port whose replies go to the test's peer.
struct UdpSetup {
  explicit UdpSetup(Fixture& f, qn::TqnMainThreadRunner runner) {
    qn::TqnUdpServerOptions o;
    o.address = "127.0.0.1";
    o.port = 0;
    o.replyPort = peer.Port();
    server = std::make_unique<qn::TqnInfoUdpServer>(f.ctx, std::move(runner), o);
  }
  std::string Ask(const std::string& datagram) {
    peer.SendTo(server->Port(), datagram);
    return peer.Receive();
  }
  infotest::UdpPeer peer;
  std::unique_ptr<qn::TqnInfoUdpServer> server;
};

TEST(UdpServer, RequestIsAnsweredToTheReplyPortFromAnotherSocket) {
  Fixture f;
  MainThread main;
  UdpSetup s(f, main.Runner());
  const std::string reply = s.Ask(Request("get-active-servers"));
  EXPECT_EQ(reply, qn::EncodePacket("active-server 0000002A OFFICE1 4", infotest::kKey, infotest::kInstance));
  EXPECT_TRUE(f.Logged("UDP Server Read, peerip = 127.0.0.1"));
  EXPECT_TRUE(f.Logged("Receiving packet from 127.0.0.1"));
}

TEST(UdpServer, DatagramsAreHandledOnTheMainThreadWithThePeerAddress) {
  Fixture f;
  MainThread main;
  std::thread::id handledOn;
  std::string backupPeer;
  f.ctx.isFb30Running = [&] {
    handledOn = std::this_thread::get_id();
    return true;
  };
  f.ctx.performBackup = [&](const qn::TqnRemoteBackupRequest& r) { backupPeer = r.peer; };
  UdpSetup s(f, main.Runner());
  EXPECT_EQ(ReplyPayload(s.Ask(Request("get-fb30-support"))), "fb30-support 1");
  EXPECT_EQ(handledOn, main.Id());
  EXPECT_EQ(ReplyPayload(s.Ask(Request("perform-database-backup db0000"))), "database-backup-info 0000002A success");
  EXPECT_EQ(backupPeer, "127.0.0.1");
}

// A datagram from outside "allow-peers" is dropped unread; a peer the list
// names is answered as before. (One sender on 127.0.0.1 and two servers
// that differ in their lists: Wine binds datagram sockets to no other
// loopback address.)
TEST(UdpServer, PeersOutsideTheAllowedNetworksGetNoAnswer) {
  Fixture f(infotest::kRegisterXml, /*debug=*/false);
  MainThread main;
  infotest::UdpPeer peer;
  auto serverFor = [&](const char* allowed) {
    qn::TqnUdpServerOptions o;
    o.address = "127.0.0.1";
    o.port = 0;
    o.replyPort = peer.Port();
    o.peers = qn::TqnPeerFilter::FromSetting(allowed);
    return std::make_unique<qn::TqnInfoUdpServer>(f.ctx, main.Runner(), o);
  };
  auto refusing = serverFor("127.0.0.2/32, 10.0.0.0/8");
  auto answering = serverFor("127.0.0.1/32");
  ASSERT_TRUE(peer.SendTo(refusing->Port(), Request("get-active-servers", 1)));
  const std::vector<std::string> refused{"refused datagram from 127.0.0.1, not in allow-peers"};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (f.LogTexts() != refused && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(f.LogTexts(), refused);
  // Had the first been answered, its reply would come before this one.
  ASSERT_TRUE(peer.SendTo(answering->Port(), Request("get-active-servers", 2)));
  EXPECT_EQ(ReplyPayload(peer.Receive()), "active-server 00000002 OFFICE1 4");
  EXPECT_EQ(f.LogTexts(), refused);
}

TEST(UdpServer, DatagramLimitIs2048Bytes) {
  Fixture f;
  MainThread main;
  UdpSetup s(f, main.Runner());
  auto packetOfLength = [](size_t n, int32_t number) {
    std::string payload = "get-active-servers ";
    payload += std::string(n - 50 - payload.size(), 'x');
    return Request(payload, number);
  };
  // Datagrams are handled in order: the first reply belongs to the second.
  s.peer.SendTo(s.server->Port(), packetOfLength(2049, 1));
  s.peer.SendTo(s.server->Port(), packetOfLength(2048, 2));
  EXPECT_EQ(ReplyPayload(s.peer.Receive()), "active-server 00000002 OFFICE1 4");
  EXPECT_TRUE(f.Logged("data too big"));
}

TEST(UdpServer, DatagramBeyondTheReceiveBufferIsDroppedSilently) {
  Fixture f;
  MainThread main;
  UdpSetup s(f, main.Runner());
  s.peer.SendTo(s.server->Port(), std::string(9000, 'x'));
  EXPECT_EQ(ReplyPayload(s.Ask(Request("get-fb30-support"))), "fb30-support 0");
  EXPECT_FALSE(f.Logged("data too big"));
  int reads = 0;
  for (const auto& t : f.LogTexts()) reads += t.rfind("UDP Server Read", 0) == 0;
  EXPECT_EQ(reads, 1);
}

TEST(UdpServer, TrailingLineFeedSpoilsTheCommandWord) {
  Fixture f;
  MainThread main;
  UdpSetup s(f, main.Runner());
  const std::string packet = Request("get-active-servers\n", 1);
  s.peer.SendTo(s.server->Port(), packet);
  EXPECT_EQ(ReplyPayload(s.Ask(Request("get-fb30-support", 2))), "fb30-support 0");
  // The pane shows the line feed as a line break.
  EXPECT_TRUE(f.Logged("invalid reply while handling command " + packet.substr(0, packet.size() - 1)));
}

TEST(UdpServer, ErrorsAreSwallowedAndTheNextDatagramIsServed) {
  Fixture f;
  MainThread main;
  int calls = 0;
  f.ctx.readSettings = [&](const std::function<void(const qn::TqnNode&)>& fn) {
    if (++calls == 1) throw qn::Exception("settings lookup failed");
    f.settings.Read(fn);
  };
  UdpSetup s(f, main.Runner());
  s.peer.SendTo(s.server->Port(), Request("get-active-servers", 1));
  EXPECT_EQ(ReplyPayload(s.Ask(Request("get-active-servers", 2))), "active-server 00000002 OFFICE1 4");
  EXPECT_EQ(calls, 2);
}

TEST(UdpServer, ProgressPacketsGoToTheReplyPort) {
  Fixture f;
  UdpSetup s(f, nullptr);
  s.server->SendPayload("127.0.0.1", "database-backup-info 0000002A progress");
  EXPECT_EQ(ReplyPayload(s.peer.Receive()), "database-backup-info 0000002A progress");
}

TEST(UdpServer, DestroyedWhileTheMainThreadIsBusy) {
  Fixture f;
  bool handled = false;
  f.ctx.isFb30Running = [&] {
    handled = true;
    return true;
  };
  // A main thread that never gets round to the work: it only keeps it.
  std::mutex m;
  std::function<void()> kept;
  std::atomic<bool> handedOver{false}, release{false}, runnerLeft{false};
  auto runner = [&](const std::function<void()>& work) {
    {
      std::lock_guard<std::mutex> lock(m);
      kept = work;
    }
    handedOver = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    runnerLeft = true;
  };
  auto s = std::make_unique<UdpSetup>(f, runner);
  s->peer.SendTo(s->server->Port(), Request("get-fb30-support"));
  while (!handedOver) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  s->server.reset();  // must not wait for the busy main thread
  // When the main thread does run the work later, it does nothing.
  std::lock_guard<std::mutex> lock(m);
  kept();
  EXPECT_FALSE(handled);
  release = true;
  // The listener thread lives on past the server; let it leave the locals.
  while (!runnerLeft) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace
