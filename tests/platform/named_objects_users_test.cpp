// Named objects between users: what a process of another user sees of this
// user's names and of root's machine-wide ones. Needs root and POSIX users.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/named_objects.h"
#include "test_support/child_process.h"
#include "test_support/temp_dir.h"

using namespace qn::platform;
using qntest::ChildProcess;
using qntest::UniqueName;

// args: global mutex name, own mutex name. Runs as the user nobody and
// checks what an ordinary user beside a server run by root must find: the
// machine-wide mutex that root owns exists, can be opened and is not free,
// and this user's own names work although its namespace folder was planted.
QN_CHILD_MODE(nobody_beside_root) {
  if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
  try {
    if (!NamedMutex::Open(args[0])) return 1;
    bool existed = false;
    auto shared = NamedMutex::Create(args[0], false, &existed);
    if (!existed) return 2;
    if (shared->Wait(100) != WaitResult::Timeout) return 3;
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
