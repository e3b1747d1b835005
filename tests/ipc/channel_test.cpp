#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <fstream>

#include <gtest/gtest.h>

#include "base/error.h"
#include "ipc/channel.h"
#include "platform/files.h"
#include "test_support/child_process.h"
#include "test_support/main_loop.h"
#include "test_support/temp_dir.h"

#ifdef _WIN32
#include "platform/win32.h"

#include <sddl.h>
#endif

using namespace qn;
using qntest::ChildProcess;
using qntest::UniqueName;

// args: channel, ready file, received file. Serves the channel on its main
// thread and records every command it receives until killed.
QN_CHILD_MODE(ipc_server) {
  TestMainLoop loop;
  TqnIpcServer server(args[0], [&](const std::function<void()>& w) { loop.RunAndWait(w); });
  const auto mainThread = std::this_thread::get_id();
  server.SetOnMessage([&](TqnIpcServer&, TqnIpcMessage& m) {
    std::ofstream(args[2], std::ios::app | std::ios::binary)
        << m.Command() << (std::this_thread::get_id() == mainThread ? " main" : " other") << "\n";
  });
  server.Start();
  qntest::TouchFile(args[1]);
  loop.Run();
  return 0;
}

// args: channel, command. Sends like a second instance of the program does.
QN_CHILD_MODE(ipc_send) {
  auto slots = ListIpcInstances(args[0]);
  if (slots.empty()) return 2;
  TqnIpcMessage m{};
  m.SetCommand(args[1]);
  SendIpcMessage(args[0], slots[0], m);
  return m.Status() == "unassigned" ? 0 : 3;
}

TEST(IpcMessage, FieldsAreCountedStringsAtTheirOffsets) {
  TqnIpcMessage m{};
  m.SetCommand("activate");
  m.SetStatus("unprocessed");
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&m);
  EXPECT_EQ(raw[8], 8);
  EXPECT_EQ(std::memcmp(raw + 9, "activate", 8), 0);
  EXPECT_EQ(raw[40], 11);
  EXPECT_EQ(std::memcmp(raw + 41, "unprocessed", 11), 0);
  m.SetCommand(std::string(40, 'x'));
  EXPECT_EQ(m.Command(), std::string(31, 'x'));
}

// args: channel, ready file. A program that is shutting down: its server
// no longer serves, and the process ends a moment later without answering.
QN_CHILD_MODE(ipc_ending_server) {
  auto* server = new TqnIpcServer(args[0], [](const std::function<void()>& w) { w(); });
  server->Start();
  server->StopServing();
  qntest::TouchFile(args[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  std::_Exit(0);
}

TEST(IpcChannel, ASenderToAServerThatEndsWithoutAnsweringGivesUpWhenItEnds) {
  TempDir dir;
  std::string channel = UniqueName("QN.TEST.ENDING");
  ChildProcess server("ipc_ending_server", {channel, dir.File("ready")});
  ASSERT_TRUE(qntest::WaitForFile(dir.File("ready")));
  TqnIpcMessage m{};
  m.SetCommand("activate");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(SendIpcMessage(channel, 0, m, 60000), EqnOsError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(server.Wait(), 0);
  EXPECT_TRUE(ListIpcInstances(channel).empty());
  TqnIpcServer next(channel);
  EXPECT_EQ(next.Slot(), 0) << "the next start becomes the instance";
}

TEST(IpcChannel, ASecondProcessReachesTheFirstOnItsMainThread) {
  TempDir dir;
  std::string channel = UniqueName("QN.TEST.INTERCOM");
  EXPECT_TRUE(ListIpcInstances(channel).empty());
  ChildProcess server("ipc_server", {channel, dir.File("ready"), dir.File("got")});
  ASSERT_TRUE(qntest::WaitForFile(dir.File("ready")));
  EXPECT_EQ(ListIpcInstances(channel), std::vector<int>{0});
  ChildProcess sender("ipc_send", {channel, "activate"});
  EXPECT_EQ(sender.Wait(), 0);
  EXPECT_EQ(platform::ReadFile(dir.File("got")), "activate main\n");

  // A killed server leaves no slot behind.
  server.Kill();
  server.Wait();
  EXPECT_TRUE(ListIpcInstances(channel).empty());
  TqnIpcServer fresh(channel);
  EXPECT_EQ(fresh.Slot(), 0);
}

TEST(IpcChannel, TheHandlersAnswerTravelsBackWithTheUntouchedBytes) {
  std::string channel = UniqueName("QN.TEST.ANSWER");
  TqnIpcServer server(channel);
  server.SetOnMessage([](TqnIpcServer& s, TqnIpcMessage& m) {
    m.SetStatus("done " + m.Command() + " in slot " + std::to_string(s.Slot()));
  });
  server.Start();
  TqnIpcMessage m{};
  std::memcpy(m.reserved, "8bytes!!", 8);
  m.SetCommand("ping");
  m.status[2000] = 0x5A;
  SendIpcMessage(channel, 0, m);
  EXPECT_EQ(m.Status(), "done ping in slot 0");
  EXPECT_EQ(std::memcmp(m.reserved, "8bytes!!", 8), 0);
  EXPECT_EQ(m.status[2000], 0x5A);
}

TEST(IpcChannel, WithoutHandlerTheStatusIsUnassignedAndWithoutAnswerItIsFail) {
  std::string channel = UniqueName("QN.TEST.STATUS");
  TqnIpcServer server(channel);
  server.Start();
  TqnIpcMessage m{};
  m.SetCommand("activate");
  SendIpcMessage(channel, 0, m);
  EXPECT_EQ(m.Status(), "unassigned");

  TqnIpcServer silent(channel);  // slot 01, never started
  ASSERT_EQ(silent.Slot(), 1);
  TqnIpcMessage n{};
  n.SetCommand("activate");
  SendIpcMessage(channel, 1, n, 100);
  EXPECT_EQ(n.Status(), "fail");
}

TEST(IpcChannel, TenSlotsAtMost) {
  std::string channel = UniqueName("QN.TEST.TEN");
  std::vector<std::unique_ptr<TqnIpcServer>> servers;
  for (int i = 0; i < 10; ++i) {
    servers.push_back(std::make_unique<TqnIpcServer>(channel));
    EXPECT_EQ(servers.back()->Slot(), i);
  }
  EXPECT_EQ(ListIpcInstances(channel).size(), 10u);
  try {
    TqnIpcServer eleventh(channel);
    FAIL() << "an eleventh server was created";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(),
                 ("TqnIpcServer.Create: too many instances of TqnIpcServer with name \"" + channel + "\"").c_str());
  }
  servers[3].reset();
  EXPECT_EQ(ListIpcInstances(channel), (std::vector<int>{0, 1, 2, 4, 5, 6, 7, 8, 9}));
  TqnIpcServer again(channel);
  EXPECT_EQ(again.Slot(), 3);
}

TEST(IpcChannel, SendingToAnEmptySlotFails) {
  TqnIpcMessage m{};
  EXPECT_THROW(SendIpcMessage(UniqueName("QN.TEST.NONE"), 0, m), EqnOsError);
}

#ifdef _WIN32
// The service's channel as an ordinary user sees it: its objects are the
// system's and refuse him all but reading who made them.
// The channel is in use (no second instance starts beside it), yet he has
// no instance to talk to.
TEST(IpcChannel, AChannelWhoseObjectsRefuseThisUserIsInUseButListsNoInstance) {
  const std::string channel = "Global\\" + UniqueName("QN.TEST.REFUSED");
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(
      ::ConvertStringSecurityDescriptorToSecurityDescriptorA("O:SYG:SYD:P(A;;RC;;;WD)", SDDL_REVISION_1, &sd, nullptr));
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  HANDLE mutex = ::CreateMutexA(&sa, TRUE, IpcObjectName(channel, 3, "mutex").c_str());
  HANDLE event = ::CreateEventA(&sa, TRUE, FALSE, IpcObjectName(channel, 3, "event").c_str());
  ::LocalFree(sd);
  ASSERT_TRUE(mutex && event);
  EXPECT_TRUE(IpcChannelInUse(channel));
  EXPECT_TRUE(ListIpcInstances(channel).empty());
  ::CloseHandle(mutex);
  ::CloseHandle(event);
  EXPECT_FALSE(IpcChannelInUse(channel));
}
#endif

// A sender that gave up before its message was taken never gets another
// sender's answer, and its withdrawn message is never handled; a sender
// whose message is being handled waits past its time-out and sees the
// handler's progress line meanwhile.
TEST(IpcChannel, EachSenderGetsTheAnswerToItsOwnMessage) {
  const std::string channel = UniqueName("QN.TEST.OWN");
  TestMainLoop loop;
  std::thread mainThread([&] { loop.Run(); });
  std::vector<std::string> handled;  // main thread only
  {
    TqnIpcServer server(channel, [&](const std::function<void()>& w) { loop.RunAndWait(w); });
    server.SetOnMessage([&](TqnIpcServer& s, TqnIpcMessage& m) {
      handled.push_back(m.Command());
      if (m.Command() == "slow") {
        s.ReportProgress("half way");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      }
      m.SetStatus("answer to " + m.Command());
    });
    server.Start();
    // The main thread is busy: the first sender gives up before its
    // message is taken, the second waits, and the main thread then serves.
    std::thread busy([&] { loop.RunAndWait([] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    TqnIpcMessage first{};
    first.SetCommand("first");
    SendIpcMessage(channel, 0, first, 300);
    EXPECT_EQ(first.Status(), "fail");
    TqnIpcMessage second{};
    second.SetCommand("second");
    SendIpcMessage(channel, 0, second, 60000);
    EXPECT_EQ(second.Status(), "answer to second");
    busy.join();

    TqnIpcMessage slow{};
    slow.SetCommand("slow");
    std::vector<std::string> lines;
    SendIpcMessage(channel, 0, slow, 300, [&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(slow.Status(), "answer to slow") << "taken, so the time-out no longer ran";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "half way");

    TqnIpcMessage third{};
    third.SetCommand("third");
    SendIpcMessage(channel, 0, third);
    EXPECT_EQ(third.Status(), "answer to third");
  }
  loop.Quit();
  mainThread.join();
  EXPECT_EQ(handled, (std::vector<std::string>{"second", "slow", "third"}));
}
