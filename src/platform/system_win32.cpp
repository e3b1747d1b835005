// Process, host and library services on Windows.

#include "platform/win32.h"

#include <cstring>
#include <shellapi.h>

#include <mutex>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif

namespace qn::platform {

namespace {

[[noreturn]] void ThrowLastError() {
  const int code = LastErrorCode();
  throw EqnOsError(ErrorText(code), code);
}

// One command-line word, quoted the way the C runtime splits it again.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      out.append(backslashes * 2 + 1, '\\');
    else
      out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = QuoteArgument(program);
  for (const auto& a : args) line += " " + QuoteArgument(a);
  return line;
}

int WaitForExit(HANDLE process) {
  ::WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  return static_cast<int>(code);
}

}  // namespace

std::string HostName() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  char buf[1024];
  if (::gethostname(buf, sizeof buf) != 0) return "(unknown)";
  buf[sizeof buf - 1] = 0;
  std::string name(buf);
  return name.empty() ? "(unknown)" : name;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::GetCurrentProcessId()); }

// Windows bounds sockets by memory, not by a per-process count.
uint64_t RaiseOpenFileLimit() { return 0; }

DescriptorReserve::DescriptorReserve(int count) : count_(count) {}
DescriptorReserve::~DescriptorReserve() = default;
void DescriptorReserve::Release() {}
void DescriptorReserve::Refill() {}

DateTime SystemClock::Now() const {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  DateTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.msec = st.wMilliseconds;
  t.weekday = st.wDayOfWeek == 0 ? 7 : st.wDayOfWeek;
  return t;
}

int RunProcessAndWait(const std::string& program, const std::vector<std::string>& args) {
  std::string line = CommandLine(program, args);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // The child gets the system's default error mode, not ours: its own
  // failures may show the system's boxes.
  if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                        nullptr, &si, &pi))
    ThrowLastError();
  ::CloseHandle(pi.hThread);
  return WaitForExit(pi.hProcess);
}

namespace {

// This process's variables, those of the same names left out, then the new ones.
std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& environment) {
  std::string block;
  if (char* current = ::GetEnvironmentStringsA()) {
    for (const char* v = current; *v; v += std::strlen(v) + 1) {
      bool replaced = false;
      for (const auto& [name, value] : environment)
        replaced = replaced || _strnicmp(v, (name + "=").c_str(), name.size() + 1) == 0;
      if (!replaced) block.append(v, std::strlen(v) + 1);
    }
    ::FreeEnvironmentStringsA(current);
  }
  for (const auto& [name, value] : environment) block += name + "=" + value + '\0';
  block += '\0';
  return block;
}

// The system's own shell, by its full path: a bare "cmd.exe" is looked for
// in the program's folder first, where someone may have put one.
std::string SystemShell() {
  char folder[MAX_PATH + 1] = {};
  const UINT n = ::GetSystemDirectoryA(folder, MAX_PATH);
  return (n == 0 || n > MAX_PATH ? std::string("C:\\Windows\\System32") : std::string(folder, n)) + "\\cmd.exe";
}

// cmd expands %NAME% before it parses the line, so a value's "&", "|", "<"
// or ">" would become syntax. The added variables are read as !NAME!
// instead, with delayed expansion, which takes place after parsing: their
// values stay text. /d skips the AutoRun commands of the registry, /s
// takes the line as written between the outer quotes.
std::string ShellLine(const std::string& shell, const std::string& command,
                      const std::vector<std::pair<std::string, std::string>>& environment) {
  std::string line = command;
  for (const auto& [name, value] : environment) {
    const std::string percent = "%" + name + "%", bang = "!" + name + "!";
    for (size_t at = 0; (at = line.find(percent, at)) != std::string::npos; at += bang.size())
      line.replace(at, percent.size(), bang);
  }
  return "\"" + shell + "\" /d /s /v:on /c \"" + line + "\"";
}

}  // namespace

int RunShellCommand(const std::string& command, const std::vector<std::pair<std::string, std::string>>& environment) {
  std::string block = EnvironmentBlock(environment);
  const std::string shell = SystemShell();
  std::string line = ShellLine(shell, command, environment);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessA(shell.c_str(), line.data(), nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW, block.data(), nullptr, &si, &pi))
    ThrowLastError();
  ::CloseHandle(pi.hThread);
  return WaitForExit(pi.hProcess);
}

ShellCommandResult RunShellCommandBounded(const std::string& command,
                                          const std::vector<std::pair<std::string, std::string>>& environment,
                                          int timeoutSeconds, const std::atomic<bool>* stop) {
  std::string block = EnvironmentBlock(environment);
  const std::string shell = SystemShell();
  std::string line = ShellLine(shell, command, environment);
  // The null device as its only inherited handle: its input is nobody's.
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  HANDLE nul = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  if (nul != INVALID_HANDLE_VALUE) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
  }
  PROCESS_INFORMATION pi{};
  // Started suspended and put in a job of its own, so that ending it ends
  // what it started too.
  const BOOL created = ::CreateProcessA(shell.c_str(), line.data(), nullptr, nullptr, nul != INVALID_HANDLE_VALUE,
                                        CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW | CREATE_SUSPENDED, block.data(),
                                        nullptr, &si, &pi);
  const DWORD error = ::GetLastError();
  if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
  if (!created) {
    ::SetLastError(error);
    ThrowLastError();
  }
  HANDLE job = ::CreateJobObjectA(nullptr, nullptr);
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    if (!::AssignProcessToJobObject(job, pi.hProcess)) {
      ::CloseHandle(job);
      job = nullptr;
    }
  }
  ::ResumeThread(pi.hThread);
  ::CloseHandle(pi.hThread);
  ShellCommandResult result;
  const ULONGLONG started = ::GetTickCount64();
  for (;;) {
    if (::WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) break;
    if (stop && stop->load()) {
      result.stopped = true;
    } else if (timeoutSeconds > 0 && ::GetTickCount64() - started >= static_cast<ULONGLONG>(timeoutSeconds) * 1000) {
      result.timedOut = true;
    } else {
      continue;
    }
    if (job)
      ::TerminateJobObject(job, 1);
    else
      ::TerminateProcess(pi.hProcess, 1);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    break;
  }
  if (job) ::CloseHandle(job);
  result.exitCode = WaitForExit(pi.hProcess);
  return result;
}

int RunAsAdministratorAndWait(const std::string& program, const std::vector<std::string>& args) {
  try {
    return RunProcessAndWait(program, args);
  } catch (const EqnOsError& e) {
    if (e.Code() != ERROR_ELEVATION_REQUIRED) throw;
  }
  // The program's manifest asks for administrator rights: the shell shows
  // the system's consent prompt.
  std::string params;
  for (const auto& a : args) params += (params.empty() ? "" : " ") + QuoteArgument(a);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "runas";
  info.lpFile = program.c_str();
  info.lpParameters = params.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExA(&info)) {
    if (::GetLastError() == ERROR_CANCELLED) return kNoAdministratorRights;
    ThrowLastError();
  }
  if (!info.hProcess) return 0;
  return WaitForExit(info.hProcess);
}

namespace {

// Keys are named from the root of HKEY_LOCAL_MACHINE, with or without a
// leading "\".
std::string SubKey(const std::string& key) {
  size_t start = 0;
  while (start < key.size() && key[start] == '\\') ++start;
  return key.substr(start);
}

}  // namespace

bool RegistryKeyExists(const std::string& key) {
  HKEY h = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SubKey(key).c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  ::RegCloseKey(h);
  return true;
}

void RegistryCreateKey(const std::string& key) {
  HKEY h = nullptr;
  const LONG rc =
      ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, SubKey(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) throw EqnOsError(ErrorText(rc), rc);
  ::RegCloseKey(h);
}

void RegistryDeleteKey(const std::string& key) {
  const LONG rc = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, SubKey(key).c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) throw EqnOsError(ErrorText(rc), rc);
}

bool GetFileVersion(const std::string& path, FileVersion& version) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return false;
  std::string block(size, '\0');
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info || length < sizeof *info)
    return false;
  version.major = HIWORD(info->dwFileVersionMS);
  version.minor = LOWORD(info->dwFileVersionMS);
  version.release = HIWORD(info->dwFileVersionLS);
  version.build = LOWORD(info->dwFileVersionLS);
  return true;
}

bool GetProgramFileVersion(FileVersion& version) {
  char path[MAX_PATH + 1] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return n > 0 && n < MAX_PATH && GetFileVersion(std::string(path, n), version);
}

std::unique_ptr<Library> Library::Load(const std::string& path, std::string* error) {
  HMODULE h = ::LoadLibraryA(path.c_str());
  if (!h) {
    if (error) *error = LastErrorText();
    return nullptr;
  }
  return std::unique_ptr<Library>(new Library(reinterpret_cast<void*>(h), path));
}

Library::~Library() { ::FreeLibrary(static_cast<HMODULE>(handle_)); }

void* Library::Symbol(const char* name) const {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

namespace {

constexpr UINT kWindows1251 = 1251;

// From one code page to another through UTF-16; the text as it is when it
// is not valid in the first or either is unknown (0: no console).
std::string Recode(const std::string& text, UINT from, UINT to) {
  if (text.empty() || from == 0 || to == 0 || from == to) return text;
  const int size = static_cast<int>(text.size());
  const int wide = ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (wide <= 0) return text;
  std::wstring utf16(static_cast<size_t>(wide), L'\0');
  ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), size, utf16.data(), wide);
  const int bytes = ::WideCharToMultiByte(to, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(to, 0, utf16.data(), wide, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

std::string ToTerminal(const std::string& cp1251) { return Recode(cp1251, kWindows1251, ::GetConsoleOutputCP()); }
std::string FromTerminal(const std::string& text) { return Recode(text, ::GetConsoleCP(), kWindows1251); }
std::string FromCommandLine(const std::string& argument) { return Recode(argument, ::GetACP(), kWindows1251); }

}  // namespace qn::platform
