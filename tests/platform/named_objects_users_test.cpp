// Named objects between users: what a process of another user sees of this
// user's names and of root's machine-wide ones. Needs root and POSIX users.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "base/error.h"
#include "platform/named_objects.h"
#include "test_support/child_process.h"
#include "test_support/temp_dir.h"

using namespace qn::platform;
using qntest::ChildProcess;
using qntest::UniqueName;

// args: global mutex name, own mutex name. Runs as the user nobody and
// checks what an ordinary user beside a server run by root must find: the
// machine-wide mutex that root owns exists and cannot be taken, no
// machine-wide name can be made, and this user's own names work although
// its namespace folder was planted.
QN_CHILD_MODE(nobody_beside_root) {
  if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
  try {
    if (!NamedMutex::Open(args[0])) return 1;
    bool existed = false;
    auto shared = NamedMutex::Create(args[0], false, &existed);
    if (!existed) return 2;
    const WaitResult got = shared->Wait(100);
    if (got == WaitResult::Signaled || got == WaitResult::Abandoned) return 3;
    try {
      NamedMutex::Create(args[0] + ".planted", true);
      return 6;
    } catch (const qn::EqnOsError&) {
    }
    auto own = NamedMutex::Create(args[1], true, &existed);
    if (existed || own->Wait(0) != WaitResult::Signaled) return 4;
    return 0;
  } catch (...) {
    return 5;
  }
}

// One user's names are not another user's: a process of another user
// neither sees this user's mutex nor collides with it.
TEST(NamedObjects, AnotherUserHasANamespaceOfItsOwn) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  std::string name = UniqueName("qn.test.peruser");
  auto mine = NamedMutex::Create(name, true);
  pid_t pid = fork();
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    try {
      if (NamedMutex::Open(name)) _exit(1);
      bool existed = true;
      auto theirs = NamedMutex::Create(name, true, &existed);
      _exit(existed ? 2 : 0);
    } catch (...) {
      _exit(4);
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(NamedObjects, AnOrdinaryUserSeesRootsMachineWideNamesDespiteAPlantedFolder) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to act as the server's user and another user";
  TempDir base;
  ASSERT_EQ(chmod(base.path().c_str(), 01777), 0);
  // Root made nobody's namespace folder in advance: it must not be used.
  ASSERT_EQ(mkdir(base.File(".qn-objects-65534").c_str(), 0700), 0);
  setenv("QN_OBJECTS_DIR", base.path().c_str(), 1);
  const std::string global = "Global\\" + UniqueName("qn.test.server");
  {
    auto server = NamedMutex::Create(global, true);
    ChildProcess nobody("nobody_beside_root", {global, UniqueName("qn.test.own")});
    EXPECT_EQ(nobody.Wait(20000), 0);
  }
  unsetenv("QN_OBJECTS_DIR");
}

// The machine-wide folder is root's: one that another user made in advance
// (to hold its guard, or to plant names) is refused, by root's processes
// too, and no machine-wide name is made or found there.
TEST(NamedObjects, AMachineWideFolderOfAnotherOwnerIsRefused) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to plant a folder as another user";
  TempDir base;
  ASSERT_EQ(chmod(base.path().c_str(), 01777), 0);
  const std::string planted = base.File(".qn-objects-global");
  ASSERT_EQ(mkdir(planted.c_str(), 0777), 0);
  ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
  setenv("QN_OBJECTS_DIR", base.path().c_str(), 1);
  const std::string global = "Global\\" + UniqueName("qn.test.planted");
  EXPECT_THROW(NamedMutex::Create(global, true), qn::EqnOsError);
  EXPECT_EQ(NamedMutex::Open(global), nullptr);
  EXPECT_EQ(NamedEvent::Open(global), nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(planted)) << "nothing was opened or made in it";
  // Root's own folder, made by root, serves; its files are root's group's only.
  ASSERT_EQ(rmdir(planted.c_str()), 0);
  {
    auto mutex = NamedMutex::Create(global, true);
    struct stat folder, guard;
    ASSERT_EQ(stat(planted.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_uid, 0u);
    EXPECT_EQ(folder.st_mode & 07777, 03775u);
    ASSERT_EQ(stat((planted + "/.guard").c_str(), &guard), 0);
    EXPECT_EQ(guard.st_mode & 0777, 0660u);
  }
  unsetenv("QN_OBJECTS_DIR");
}
