// The Win32 side of the platform layer against the real system: drive types,
// file calls and their errors, Windows-1251 names, processes, the registry,
// libraries and version resources.
#include <filesystem>

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "test_support/child_process.h"
#include "test_support/temp_dir.h"

using namespace qn;
using namespace qn::platform;

QN_CHILD_MODE(exit_with) { return std::stoi(args.at(0)); }

TEST(Win32Files, DriveTypesAreTheSystems) {
  EXPECT_EQ(GetDriveType("C:\\"), DriveType::Fixed);
  // A letter that names no drive on a test machine.
  EXPECT_EQ(GetDriveType("Q:\\"), DriveType::NoRootDir);
  EXPECT_EQ(kPathSeparator, '\\');
  EXPECT_EQ(ExtractFileDir("C:\\base.fdb"), "C:\\");
  EXPECT_EQ(JoinPath("C:\\Data", "x.fdb"), "C:\\Data\\x.fdb");
  EXPECT_EQ(JoinPath("C:\\Data/2026", "x.fdb"), "C:\\Data/2026\\x.fdb");
  // A folder of a Linux server, as the server reads it: no backslash in the name.
  EXPECT_EQ(JoinPath("/srv/backup", "x.bk3"), "/srv/backup/x.bk3");
  EXPECT_EQ(ExtractFileName(JoinPath("/srv/backup", "x.bk3")), "x.bk3");
}

TEST(Win32Files, MoveRefusesAnExistingTargetAndCopyOverwrites) {
  TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b");
  WriteFileReplacing(a, "one");
  WriteFileReplacing(b, "two");
  try {
    MoveFile(a, b);
    ADD_FAILURE() << "moved over an existing file";
  } catch (const EqnOsError& e) {
    EXPECT_EQ(e.Code(), 183) << e.what();  // ERROR_ALREADY_EXISTS
  }
  CopyFile(a, b, false);
  EXPECT_EQ(ReadFile(b), "one");
  EXPECT_THROW(CopyFile(a, b, true), EqnOsError);
  DeleteFile(b);
  MoveFile(a, b);
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(ReadFile(b), "one");
  EXPECT_TRUE(DirectoryExists(ProgramFolder()));
  EXPECT_EQ(TempFolder().back(), '\\');
}

// The "A" functions take the Windows-1251 names as they are: on a Russian
// system those are the names a person sees.
TEST(Win32Files, Windows1251NamesAreTheRealNames) {
  TempDir dir;
  const std::string folder = JoinPath(dir.path(), Win1251("Базы\\Архив"));
  ForceDirectories(folder);
  WriteFileReplacing(JoinPath(folder, Win1251("тест.txt")), "x");
  EXPECT_EQ(KernelFileName(folder), folder);
  EXPECT_FALSE(kUtf8FileNames);
  const std::filesystem::path wide = std::filesystem::path(dir.path()) / L"Базы" / L"Архив" / L"тест.txt";
  EXPECT_TRUE(std::filesystem::is_regular_file(wide));
}

TEST(Win32System, RunsAProcessAndReturnsItsExitCode) {
  char self[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  EXPECT_EQ(RunProcessAndWait(self, {"--qn-child=exit_with", "7"}), 7);
  EXPECT_THROW(RunProcessAndWait("C:\\nonexistent\\program.exe", {}), EqnOsError);
}

TEST(Win32System, RegistryKeysUnderTheMachineRoot) {
  const std::string key = "\\SOFTWARE\\QnTest\\" + qntest::UniqueName("Key_is1");
  EXPECT_FALSE(RegistryKeyExists(key));
  RegistryCreateKey(key);
  EXPECT_TRUE(RegistryKeyExists(key));
  RegistryDeleteKey(key);
  EXPECT_FALSE(RegistryKeyExists(key));
}

TEST(Win32System, LibrariesAndTheirVersionResources) {
  std::string err;
  EXPECT_EQ(Library::Load("C:\\nonexistent\\fbclient.dll", &err), nullptr);
  EXPECT_FALSE(err.empty());
  auto lib = Library::Load("kernel32.dll");
  ASSERT_TRUE(lib);
  EXPECT_NE(lib->Symbol("GetTickCount"), nullptr);
  EXPECT_EQ(lib->Symbol("no_such_symbol_here"), nullptr);
  FileVersion version;
  char system[MAX_PATH + 1] = {};
  ::GetSystemDirectoryA(system, MAX_PATH);
  ASSERT_TRUE(GetFileVersion(JoinPath(system, "kernel32.dll"), version));
  EXPECT_GT(version.major, 0);
  EXPECT_FALSE(GetFileVersion("C:\\nonexistent\\fbclient.dll", version));
}

// args: a file. Writes what the terminal functions make of Russian text in
// this process's console, set to a Russian desktop's code page 866.
QN_CHILD_MODE(console_text) {
  if (!::SetConsoleOutputCP(866) || !::SetConsoleCP(866)) return 2;
  const std::string text = Win1251("Архивация: ёж");
  WriteFileReplacing(args.at(0), ToTerminal(text) + "|" + FromTerminal(ToTerminal(text)) + "|" + FromCommandLine(text));
  return 0;
}

TEST(Win32System, RussianTextCrossesTheConsoleInItsCodePage) {
  // A child with a console of its own (without a window, as under a service
  // or Wine): its console text is in code page 866, its arguments in 1251.
  TempDir dir;
  char self[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string file = dir.File("text");
  std::string line = std::string("\"") + self + "\" --qn-child=console_text \"" + file + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(
      ::CreateProcessA(self, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
  ::WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = 99;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  ASSERT_EQ(code, 0u) << "2: the child had no console";
  const std::string text = Win1251("Архивация: ёж");
  EXPECT_EQ(ReadFile(file), "\x80\xE0\xE5\xA8\xA2\xA0\xE6\xA8\xEF: \xF1\xA6|" + text + "|" + text);
}

TEST(Win32System, AShellCommandSeesTheAddedVariables) {
  TempDir dir;
  const std::string out = dir.File("out.txt");
  EXPECT_EQ(RunShellCommand("echo %QN_EVENT% %QN_ENTRY%> \"" + out + "\" & exit 3",
                            {{"QN_EVENT", "failed"}, {"QN_ENTRY", "db0000"}}),
            3);
  EXPECT_EQ(ReadFile(out).substr(0, 14), "failed db0000 ") << "cmd's echo keeps the blank before \">\"";
  EXPECT_GT(FreeDiskSpace(dir.path()), 0);
  EXPECT_EQ(ListFiles(dir.path()), std::vector<std::string>{"out.txt"});
  EXPECT_EQ(FileSize(out), static_cast<int64_t>(ReadFile(out).size()));

  // A caption with the shell's own signs is text, not syntax: the hook runs
  // once and writes it whole; a quoted path keeps its quotes.
  // (ASCII: cmd's echo writes a file in the console's code page.)
  const std::string caption = "Stock & Co | <1> \"a\" !x";
  const std::string quoted = dir.File("с пробелом.txt");
  EXPECT_EQ(
      RunShellCommandBounded("echo %QN_CAPTION%>>\"" + quoted + "\"", {{"QN_CAPTION", caption}}, 30, nullptr).exitCode,
      0);
  EXPECT_EQ(ReadFile(quoted), caption + "\r\n");
}
