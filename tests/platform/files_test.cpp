#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "test_support/file_size_limit.h"
#include "test_support/temp_dir.h"

using namespace qn;
using namespace qn::platform;

TEST(Files, PathsAndFolders) {
  TempDir dir;
  std::string deep = JoinPath(dir.path(), "a/b/c");
  ForceDirectories(deep);
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_EQ(ExtractFileDir(JoinPath(deep, "x.txt")), deep);
  EXPECT_EQ(ExtractFileName(JoinPath(deep, "x.txt")), "x.txt");
  EXPECT_EQ(TempFolder().back(), kPathSeparator);
  EXPECT_TRUE(DirectoryExists(ProgramFolder()));
  EXPECT_EQ(GetDriveType("C:\\"), DriveType::NoRootDir);
  EXPECT_NE(HostName(), "");
}

// The program folder: the executable's (a program copied into a folder of
// its own), or the one QNDBMGR_HOME names, given in the kernel's form.
TEST(Files, TheProgramFolderIsTheExecutablesUnlessNamed) {
  ::unsetenv("QNDBMGR_HOME");
  EXPECT_EQ(ProgramFolder(), ExecutableFolder());
  TempDir dir;
  const std::string named = dir.File("Служба");
  ::setenv("QNDBMGR_HOME", (named + "//").c_str(), 1);
  EXPECT_EQ(ProgramFolder(), FromKernelFileName(named));
  ::unsetenv("QNDBMGR_HOME");
}

TEST(Files, MoveRefusesAnExistingTargetAndCopyOverwrites) {
  TempDir dir;
  std::string a = JoinPath(dir.path(), "a"), b = JoinPath(dir.path(), "b");
  WriteFileReplacing(a, "one");
  WriteFileReplacing(b, "two");
  EXPECT_THROW(MoveFile(a, b), EqnOsError);
  EXPECT_EQ(ReadFile(b), "two");
  CopyFile(a, b, false);
  EXPECT_EQ(ReadFile(b), "one");
  EXPECT_THROW(CopyFile(a, b, true), EqnOsError);
  DeleteFile(b);
  MoveFile(a, b);
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(ReadFile(b), "one");
  EXPECT_THROW(ReadFile(a), Exception);
}

// A write that fails half-way (here: the file size limit) must leave the
// old content in place and no temporary file behind.
TEST(Files, FailedReplaceKeepsTheOldContent) {
  TempDir dir;
  std::string f = JoinPath(dir.path(), "settings.xml");
  WriteFileReplacing(f, "old content");
  EXPECT_TRUE(FailsUnderFileSizeLimit(4096, [&] {
    try {
      WriteFileReplacing(f, std::string(100000, 'x'));
    } catch (const EqnOsError&) {
      return true;
    }
    return false;
  })) << "the failed write was not reported";
  EXPECT_EQ(ReadFile(f), "old content");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"settings.xml"});
}

TEST(Files, AppendFileAddsAtTheEnd) {
  TempDir dir;
  std::string f = JoinPath(dir.path(), "log.txt");
  {
    auto a = AppendFile::Open(f);
    ASSERT_TRUE(a);
    a->Append("one\r\n");
  }
  auto b = AppendFile::Open(f);
  b->Append("two\r\n");
  EXPECT_EQ(ReadFile(f), "one\r\ntwo\r\n");
  EXPECT_EQ(AppendFile::Open(JoinPath(dir.path(), "missing/x.txt")), nullptr);
}

TEST(System, RunsAProcessAndReturnsItsExitCode) {
  EXPECT_EQ(RunProcessAndWait("/bin/sh", {"-c", "exit 7"}), 7);
  EXPECT_THROW(RunProcessAndWait("/nonexistent/program", {}), EqnOsError);
}

TEST(System, AShellCommandSeesTheAddedVariablesInUtf8) {
  TempDir dir;
  const std::string out = dir.File("out.txt");
  ::setenv("QN_EVENT", "old", 1);
  EXPECT_EQ(RunShellCommand("printf '%s %s' \"$QN_EVENT\" \"$QN_CAPTION\" > '" + out + "'; exit 3",
                            {{"QN_EVENT", "failed"}, {"QN_CAPTION", "Склад"}}),
            3);
  ::unsetenv("QN_EVENT");
  EXPECT_EQ(ReadFile(out), "failed Склад") << "an added variable replaces one of the same name";
}

// An office's hook reads nothing of ours, and one that hangs is ended with
// what it started, even when it ignores SIGTERM; a stop ends it at once.
TEST(System, ABoundedShellCommandHasNoInputAndEndsWithWhatItStarted) {
  TempDir dir;
  const std::string out = dir.File(Win1251("ввод.txt"));
  ShellCommandResult r = RunShellCommandBounded("readlink /proc/self/fd/0 > '" + out + "'; exit 4", {}, 5, nullptr);
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(ReadFile(out), "/dev/null\n");

  const std::string pidFile = dir.File("pid");
  const auto started = std::chrono::steady_clock::now();
  r = RunShellCommandBounded("trap '' TERM; sleep 600 & echo $! > '" + pidFile + "'; wait", {}, 1, nullptr);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(r.timedOut);
  EXPECT_LT(took, std::chrono::seconds(8));
  EXPECT_GE(took, std::chrono::seconds(1));
  const pid_t sleeper = std::stoi(ReadFile(pidFile));
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    // Ended, or a zombie not yet reaped by whoever adopted it.
    const std::string stat = FileExists("/proc/" + std::to_string(sleeper) + "/stat")
                                 ? ReadFile("/proc/" + std::to_string(sleeper) + "/stat")
                                 : "";
    gone = stat.empty() || stat.find(") Z") != std::string::npos;
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(gone) << "the hook's own child outlived it";

  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  const auto before = std::chrono::steady_clock::now();
  r = RunShellCommandBounded("sleep 600", {}, 0, &stop);
  stopper.join();
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.timedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

// Root's program hands its database folders to the server's account by
// group, and never through a link.
TEST(Files, AFolderSharedWithTheDatabaseServerIsItsGroupsAndNoLinkIsFollowed) {
  const passwd* account = ::getpwnam("firebird");
  if (::geteuid() != 0 || !account) GTEST_SKIP() << "needs root and Debian's firebird user";
  TempDir dir;
  const std::string data = dir.File(Win1251("Базы"));
  ForceDirectories(data);
  ASSERT_TRUE(ShareFolderWithDatabaseServer(data));
  struct stat st;
  ASSERT_EQ(::stat(KernelFileName(data).c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, account->pw_gid);
  EXPECT_EQ(st.st_mode & (S_IRWXG | S_ISGID), static_cast<mode_t>(S_IRWXG | S_ISGID));
  EXPECT_EQ(st.st_uid, 0u) << "root's program keeps the folder";

  const std::string elsewhere = dir.File("elsewhere");
  ForceDirectories(elsewhere);
  ::chmod(elsewhere.c_str(), 0700);
  ASSERT_EQ(::symlink(elsewhere.c_str(), dir.File("link").c_str()), 0);
  EXPECT_FALSE(ShareFolderWithDatabaseServer(dir.File("link")));
  ASSERT_EQ(::stat(elsewhere.c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, 0u);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST(Files, SizesFreeSpaceListingAndChunks) {
  TempDir dir;
  const std::string file = dir.File(Win1251("копия.bk3"));
  WriteFileReplacing(file, std::string(3 << 20, 'x'));
  EXPECT_EQ(FileSize(file), 3 << 20);
  EXPECT_EQ(FileSize(dir.File("missing")), -1);
  EXPECT_EQ(ListFiles(dir.path()), std::vector<std::string>{Win1251("копия.bk3")});
  EXPECT_TRUE(ListFiles(dir.File("missing")).empty());
  EXPECT_GT(FreeDiskSpace(dir.path()), 0);
  EXPECT_EQ(FreeDiskSpace(dir.File("missing")), -1);
  size_t total = 0, pieces = 0;
  ReadFileChunks(file, [&](const char*, size_t size) {
    total += size;
    ++pieces;
  });
  EXPECT_EQ(total, 3u << 20);
  EXPECT_GT(pieces, 1u) << "read piece by piece, not whole";
}

TEST(System, RegistryKeysPersistInTheirStore) {
  TempDir dir;
  setenv("QN_REGISTRY_DIR", dir.path().c_str(), 1);
  std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Test_is1";
  EXPECT_FALSE(RegistryKeyExists(key));
  RegistryCreateKey(key);
  EXPECT_TRUE(RegistryKeyExists(key));
  RegistryDeleteKey(key);
  EXPECT_FALSE(RegistryKeyExists(key));
  unsetenv("QN_REGISTRY_DIR");
}

TEST(System, LoadsALibraryByPath) {
  std::string err;
  EXPECT_EQ(Library::Load("/nonexistent/libx.so", &err), nullptr);
  EXPECT_FALSE(err.empty());
  auto lib = Library::Load("libc.so.6");
  ASSERT_TRUE(lib);
  EXPECT_NE(lib->Symbol("strlen"), nullptr);
  EXPECT_EQ(lib->Symbol("no_such_symbol_here"), nullptr);
}

// Names are Windows-1251 everywhere in the system; on disk they are the
// kernel's (UTF-8) names that a person sees in a Russian folder.
TEST(Files, CyrillicNamesAreTheRealNamesOnDisk) {
  TempDir dir;
  const std::string folder = JoinPath(dir.path(), Win1251("Базы/Архив"));
  ForceDirectories(folder);
  const std::string file = JoinPath(folder, Win1251("тест.txt"));
  WriteFileReplacing(file, "x");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() + "/Базы/Архив/тест.txt"));
  EXPECT_TRUE(FileExists(file));
  CopyFile(file, JoinPath(folder, Win1251("копия.txt")), true);
  MoveFile(file, JoinPath(folder, Win1251("перенос.txt")));
  EXPECT_EQ(TempDir::ListDir(dir.path() + "/Базы/Архив"), (std::vector<std::string>{"копия.txt", "перенос.txt"}));
  auto log = AppendFile::Open(JoinPath(folder, Win1251("журнал.txt")));
  ASSERT_TRUE(log);
  log->Append("y");
  EXPECT_EQ(ReadFile(JoinPath(folder, Win1251("журнал.txt"))), "y");
  EXPECT_EQ(FromKernelFileName("/tmp/Базы"), "/tmp/" + Win1251("Базы"));
}

// Under a Russian locale the system words its errors in Russian: they reach
// logs and messages in Windows-1251 like every other text.
TEST(Files, TheSystemsErrorTextIsWindows1251UnderARussianLocale) {
  const std::string saved = setlocale(LC_ALL, nullptr);
  if (!setlocale(LC_ALL, "ru_RU.UTF-8")) GTEST_SKIP() << "the locale ru_RU.UTF-8 is not installed";
  const std::string text = ErrorText(ENOENT);
  setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(text, Win1251("Нет такого файла или каталога"));
}

// A private file in a folder that other users write is never reached
// through a link that someone planted there.
TEST(Files, APrivateFileIsNotOpenedThroughALink) {
  TempDir dir;
  const std::string target = dir.File("target"), link = dir.File("log.txt");
  WriteFileReplacing(target, "kept");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(AppendFile::Open(link, true), nullptr);
  EXPECT_EQ(ReadFile(target), "kept");
}
