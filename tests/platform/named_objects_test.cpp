#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "platform/named_objects.h"
#include "test_support/child_process.h"
#include "test_support/temp_dir.h"

using namespace qn::platform;
using qntest::ChildProcess;
using qntest::UniqueName;

// args: mutex name, ready file. Owns the mutex until killed.
QN_CHILD_MODE(hold_mutex) {
  bool existed = false;
  auto m = NamedMutex::Create(args[0], true, &existed);
  if (existed) return 3;
  qntest::TouchFile(args[1]);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// args: mutex name. Takes and releases the mutex; exit 0 when it got it.
QN_CHILD_MODE(take_mutex) {
  auto m = NamedMutex::Create(args[0], false);
  WaitResult r = m->Wait(std::stoi(args[1]));
  if (r == WaitResult::Signaled) return m->Release() ? 0 : 4;
  if (r == WaitResult::Abandoned) return 5;
  return 6;
}

// args: event name. Opens the event and sets it.
QN_CHILD_MODE(set_event) {
  auto e = NamedEvent::Open(args[0]);
  if (!e) return 2;
  e->Set();
  return 0;
}

// args: section name, text. Writes the text into an existing section.
QN_CHILD_MODE(write_section) {
  auto s = SharedMemory::Open(args[0]);
  if (!s) return 2;
  std::memcpy(s->Data(), args[1].c_str(), args[1].size() + 1);
  return 0;
}

TEST(NamedMutex, CreateReportsWhetherTheNameExisted) {
  std::string name = UniqueName("qn.test.mutex");
  EXPECT_EQ(NamedMutex::Open(name), nullptr);
  bool existed = true;
  auto a = NamedMutex::Create(name, true, &existed);
  EXPECT_FALSE(existed);
  auto b = NamedMutex::Create(name, true, &existed);
  EXPECT_TRUE(existed);
  EXPECT_NE(NamedMutex::Open(name), nullptr);
  a.reset();
  b.reset();
  EXPECT_EQ(NamedMutex::Open(name), nullptr) << "the name outlived its last handle";
}

TEST(NamedMutex, OwnershipIsRecursivePerThreadAndExclusiveBetweenThreads) {
  auto m = NamedMutex::Create(UniqueName("qn.test.rec"), false);
  ASSERT_EQ(m->Wait(0), WaitResult::Signaled);
  ASSERT_EQ(m->Wait(0), WaitResult::Signaled);
  WaitResult other = WaitResult::Failed;
  std::thread([&] { other = m->Wait(50); }).join();
  EXPECT_EQ(other, WaitResult::Timeout);
  EXPECT_TRUE(m->Release());
  std::thread([&] { other = m->Wait(50); }).join();
  EXPECT_EQ(other, WaitResult::Timeout) << "still owned once";
  EXPECT_TRUE(m->Release());
  EXPECT_FALSE(m->Release());
  std::thread([&] {
    other = m->Wait(1000);
    m->Release();
  }).join();
  EXPECT_EQ(other, WaitResult::Signaled);
}

TEST(NamedMutex, ThreadsTakeTurns) {
  auto m = NamedMutex::Create(UniqueName("qn.test.turns"), false);
  int counter = 0;
  std::atomic<bool> overlap{false};
  std::atomic<int> inside{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(m->Wait(kInfinite), WaitResult::Signaled);
        if (inside.fetch_add(1) != 0) overlap = true;
        ++counter;
        inside.fetch_sub(1);
        m->Release();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlap);
  EXPECT_EQ(counter, 800);
}

TEST(NamedMutex, AnotherProcessWaitsForTheOwner) {
  std::string name = UniqueName("qn.test.xproc");
  auto m = NamedMutex::Create(name, true);
  ChildProcess child("take_mutex", {name, "100"});
  EXPECT_EQ(child.Wait(), 6) << "the child got a mutex that this process owns";
  m->Release();
  ChildProcess again("take_mutex", {name, "5000"});
  EXPECT_EQ(again.Wait(), 0);
}

TEST(NamedMutex, AKilledOwnerLeavesTheNameFreeOrTheMutexAbandoned) {
  TempDir dir;
  std::string name = UniqueName("qn.test.kill");
  {
    ChildProcess holder("hold_mutex", {name, dir.File("ready")});
    ASSERT_TRUE(qntest::WaitForFile(dir.File("ready")));
    bool existed = false;
    auto m = NamedMutex::Create(name, false, &existed);
    EXPECT_TRUE(existed);
    EXPECT_EQ(m->Wait(50), WaitResult::Timeout);
    holder.Kill();
    holder.Wait();
    EXPECT_EQ(m->Wait(5000), WaitResult::Abandoned) << "this process still had a handle";
    m->Release();
  }
  // With no handle left anywhere, the name is gone.
  std::remove(dir.File("ready").c_str());
  ChildProcess holder("hold_mutex", {name, dir.File("ready")});
  ASSERT_TRUE(qntest::WaitForFile(dir.File("ready")));
  holder.Kill();
  holder.Wait();
  EXPECT_EQ(NamedMutex::Open(name), nullptr);
  bool existed = true;
  auto fresh = NamedMutex::Create(name, true, &existed);
  EXPECT_FALSE(existed);
}

TEST(NamedEvent, ManualResetStaysSignalledUntilReset) {
  std::string name = UniqueName("qn.test.event");
  EXPECT_EQ(NamedEvent::Open(name), nullptr);
  auto e = NamedEvent::Create(name, true, false);
  EXPECT_EQ(e->Wait(10), WaitResult::Timeout);
  e->Set();
  EXPECT_EQ(e->Wait(0), WaitResult::Signaled);
  EXPECT_EQ(e->Wait(0), WaitResult::Signaled);
  e->Reset();
  EXPECT_EQ(e->Wait(10), WaitResult::Timeout);
  auto auto_ = NamedEvent::Create(UniqueName("qn.test.auto"), false, true);
  EXPECT_EQ(auto_->Wait(0), WaitResult::Signaled);
  EXPECT_EQ(auto_->Wait(0), WaitResult::Timeout);
}

TEST(NamedEvent, AnotherProcessWakesAWaiter) {
  std::string name = UniqueName("qn.test.wake");
  auto e = NamedEvent::Create(name, true, false);
  WaitResult r = WaitResult::Failed;
  std::thread waiter([&] { r = e->Wait(kInfinite); });
  ChildProcess child("set_event", {name});
  EXPECT_EQ(child.Wait(), 0);
  waiter.join();
  EXPECT_EQ(r, WaitResult::Signaled);
  ChildProcess missing("set_event", {UniqueName("qn.test.none")});
  EXPECT_EQ(missing.Wait(), 2) << "opening a missing event must fail";
}

TEST(SharedMemory, IsSharedBetweenProcessesAndZeroedWhenNew) {
  std::string name = UniqueName("qn.test.section");
  EXPECT_EQ(SharedMemory::Open(name), nullptr);
  auto s = SharedMemory::Create(name, 2120);
  ASSERT_GE(s->Size(), 2120u);
  const char* p = static_cast<const char*>(s->Data());
  for (size_t i = 0; i < 2120; ++i) ASSERT_EQ(p[i], 0);
  ChildProcess child("write_section", {name, "hello from the child"});
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_STREQ(p, "hello from the child");
}

TEST(NamedObjects, GlobalNamesAreSeparateFromTheUsersNames) {
  std::string name = UniqueName("qn.test.global");
  auto local = NamedMutex::Create(name, false);
  bool existed = true;
  auto global = NamedMutex::Create("Global\\" + name, false, &existed);
  EXPECT_FALSE(existed);
  EXPECT_NE(NamedMutex::Open("Global\\" + name), nullptr);
  local.reset();
  EXPECT_EQ(NamedMutex::Open(name), nullptr);
  EXPECT_NE(NamedMutex::Open("Global\\" + name), nullptr);
}

// A name this user made is trusted, with its maker's account; one that is
// gone exists no more. (Names another user planted: the users tests.)
TEST(NamedObjects, ANameThisUserMadeIsTrusted) {
  for (const std::string& name : {UniqueName("qn.test.maker"), "Global\\" + UniqueName("qn.test.maker")}) {
    auto event = NamedEvent::Create(name, true, false);
    const NameMaker maker = WhoMadeName(NamedObjectKind::Event, name);
    EXPECT_TRUE(maker.exists) << name;
    EXPECT_TRUE(maker.trusted) << name << " made by " << maker.account;
    // (A session's own names on Windows need no maker: no one else's are there.)
    if (name.rfind("Global\\", 0) == 0) {
      EXPECT_FALSE(maker.account.empty() || maker.account == "?") << name;
    }
    EXPECT_FALSE(WhoMadeName(NamedObjectKind::Mutex, name).exists) << "another kind's name";
    event.reset();
    EXPECT_FALSE(WhoMadeName(NamedObjectKind::Event, name).exists) << name;
  }
}
