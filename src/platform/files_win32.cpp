// File-system services on Windows. The "A" functions take the system's
// Windows-1251 names as they are, so names cross into the kernel unchanged.

#include "platform/win32.h"

#include <cstdlib>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"

namespace qn::platform {

const char kPathSeparator = '\\';
const bool kUtf8FileNames = false;

std::string KernelFileName(const std::string& name) { return name; }
std::string FromKernelFileName(const std::string& name) { return name; }

namespace {

[[noreturn]] void ThrowError(DWORD code) {
  throw EqnOsError(ErrorText(static_cast<int>(code)), static_cast<int>(code));
}
[[noreturn]] void ThrowLastError() { ThrowError(::GetLastError()); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

bool WriteAll(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(h, data, chunk, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

DWORD Attributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsSeparator(folder.back())) return folder + name;
  // A folder written with '/' only is a path of the server that reads it
  // (a backup folder on a Linux server, "/srv/backup"): a '\' would be part
  // of the name there. Windows takes '/' as well.
  const char separator = folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos ? '/' : '\\';
  return folder + separator + name;
}

std::string ExtractFileDir(const std::string& path) {
  size_t p = LastSeparator(path);
  if (p == std::string::npos) {
    // "C:name" lies in the folder "C:".
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "";
  }
  if (p == 0 || (p == 2 && path[1] == ':')) return path.substr(0, p + 1);  // a drive's or the root
  return path.substr(0, p);
}

std::string ExtractFileName(const std::string& path) {
  size_t p = LastSeparator(path);
  if (p == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
  return path.substr(p + 1);
}

bool FileExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The Windows server runs as the service it was installed as; its folders'
// rights are the installer's.
bool ShareFolderWithDatabaseServer(const std::string&) { return true; }

void ForceDirectories(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 3 && IsSeparator(folder.back())) folder.pop_back();
  if (folder.empty() || DirectoryExists(folder)) return;
  std::string parent = ExtractFileDir(folder);
  if (!parent.empty() && parent != folder) ForceDirectories(parent);
  if (!::CreateDirectoryA(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) ThrowLastError();
}

namespace {

// A value of the installer's key in the 64-bit view; "" when missing.
std::string InstallerValue(const char* name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\qndbmgr", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS)
    return "";
  char value[MAX_PATH + 1] = {};
  DWORD size = sizeof value - 1, type = 0;
  const LONG rc = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  ::RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return "";
  std::string text(value);
  while (text.size() > 3 && IsSeparator(text.back())) text.pop_back();
  return text;
}

}  // namespace

std::string ProgramFolder() {
  if (const char* home = std::getenv("QNDBMGR_HOME"); home && *home) return home;
  const std::string own = ExecutableFolder();
  // Only the installed copy: one copied elsewhere keeps its state beside it.
  const std::string installed = InstallerValue("ProgramFolder"), state = InstallerValue("StateFolder");
  if (!installed.empty() && !state.empty() && _stricmp(installed.c_str(), own.c_str()) == 0) return state;
  return own;
}

std::string ExecutableFolder() {
  char buf[MAX_PATH + 1];
  const DWORD n = ::GetModuleFileNameA(nullptr, buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ".";
  std::string dir = ExtractFileDir(std::string(buf, n));
  while (dir.size() > 3 && IsSeparator(dir.back())) dir.pop_back();
  return dir;
}

std::string TempFolder() {
  char buf[MAX_PATH + 2];
  const DWORD n = ::GetTempPathA(MAX_PATH + 1, buf);
  std::string dir = (n == 0 || n > MAX_PATH) ? std::string("C:\\") : std::string(buf, n);
  if (!IsSeparator(dir.back())) dir += kPathSeparator;
  return dir;
}

DriveType GetDriveType(const std::string& root) {
  const UINT t = ::GetDriveTypeA(root.c_str());
  return t <= DRIVE_RAMDISK ? static_cast<DriveType>(t) : DriveType::Unknown;
}

void MoveFile(const std::string& from, const std::string& to) {
  if (!::MoveFileA(from.c_str(), to.c_str())) ThrowLastError();
}

void RenameReplacing(const std::string& from, const std::string& to) {
  if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) ThrowLastError();
}

void CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  if (!::CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE)) ThrowLastError();
}

void DeleteFile(const std::string& path) {
  if (!::DeleteFileA(path.c_str())) ThrowLastError();
}

std::string ReadFile(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw Exception("Cannot open file " + path);
  std::string data;
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
      const DWORD e = ::GetLastError();
      ::CloseHandle(h);
      ThrowError(e);
    }
    if (n == 0) break;
    data.append(buf, n);
  }
  ::CloseHandle(h);
  return data;
}

bool RestrictToOwner(const std::string& path) { return FileExists(path); }

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
  const std::string dir = ExtractFileDir(path);
  const std::string base = JoinPath(dir.empty() ? "." : dir, "." + ExtractFileName(path) + ".");
  std::string tmp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    tmp = base + Format("%lu.%lu", static_cast<unsigned long>(::GetCurrentProcessId()),
                        static_cast<unsigned long>((::GetTickCount() + attempt * 7919u) % 1000000u));
    h = ::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) throw Exception("Cannot create file " + path);
  bool ok = WriteAll(h, bytes.data(), bytes.size()) && ::FlushFileBuffers(h);
  DWORD err = ok ? 0 : ::GetLastError();
  if (!::CloseHandle(h) && ok) {
    ok = false;
    err = ::GetLastError();
  }
  if (ok && !::MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    err = ::GetLastError();
  }
  if (!ok) {
    ::DeleteFileA(tmp.c_str());
    ThrowError(err);
  }
}

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, bool privateFile) {
  // A private file must not be reached through a link planted in its place.
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (privateFile ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE h =
      ::CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (privateFile) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
      ::CloseHandle(h);
      return nullptr;
    }
  }
  return std::unique_ptr<AppendFile>(new AppendFile(reinterpret_cast<intptr_t>(h)));
}

AppendFile::~AppendFile() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

void AppendFile::Append(const std::string& bytes) {
  if (!WriteAll(reinterpret_cast<HANDLE>(handle_), bytes.data(), bytes.size())) ThrowLastError();
}

std::unique_ptr<InputFile> InputFile::Open(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw Exception("Cannot open file " + path);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(h, &size)) {
    ::CloseHandle(h);
    throw Exception("Cannot open file " + path);
  }
  return std::unique_ptr<InputFile>(new InputFile(reinterpret_cast<intptr_t>(h), size.QuadPart));
}

InputFile::~InputFile() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

size_t InputFile::Read(char* buffer, size_t capacity) {
  const DWORD chunk = capacity > 0x40000000u ? 0x40000000u : static_cast<DWORD>(capacity);
  DWORD n = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &n, nullptr)) ThrowLastError();
  return n;
}

std::unique_ptr<NewFile> NewFile::Create(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError();
  return std::unique_ptr<NewFile>(new NewFile(reinterpret_cast<intptr_t>(h)));
}

NewFile::~NewFile() {
  if (open_) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void NewFile::Write(const char* data, size_t size) {
  if (!WriteAll(reinterpret_cast<HANDLE>(handle_), data, size)) ThrowLastError();
}

void NewFile::Commit() {
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  open_ = false;
  if (!::FlushFileBuffers(h)) {
    const DWORD e = ::GetLastError();
    ::CloseHandle(h);
    ThrowError(e);
  }
  if (!::CloseHandle(h)) ThrowLastError();
}

int LastErrorCode() { return static_cast<int>(::GetLastError()); }
std::string LastErrorText() { return ErrorText(LastErrorCode()); }

std::string ErrorText(int code) {
  // The system's own words, in the ANSI code page (Windows-1251 on a
  // Russian system), without the line break it ends them with.
  char* text = nullptr;
  const DWORD n =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n && text ? std::string(text, n) : Format("System error %d", code);
  if (text) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out;
}

void ReadFileChunks(const std::string& path, const std::function<void(const char* data, size_t size)>& onChunk) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw Exception("Cannot open file " + path);
  std::vector<char> buf(1 << 20);
  try {
    for (;;) {
      DWORD n = 0;
      if (!::ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr)) ThrowLastError();
      if (n == 0) break;
      onChunk(buf.data(), n);
    }
  } catch (...) {
    ::CloseHandle(h);
    throw;
  }
  ::CloseHandle(h);
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int64_t FreeDiskSpace(const std::string& folder) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = ::FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (::FindNextFileA(h, &data));
  ::FindClose(h);
  return names;
}

}  // namespace qn::platform
