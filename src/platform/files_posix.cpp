#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include <langinfo.h>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"

namespace qn::platform {

const char kPathSeparator = '/';
const bool kUtf8FileNames = true;

std::string KernelFileName(const std::string& name) { return Win1251ToUtf8(name); }

std::string FromKernelFileName(const std::string& name) {
  std::string out;
  Utf8ToWin1251(name, out);
  return out;
}

namespace {

[[noreturn]] void ThrowErrno(int code) { throw EqnOsError(ErrorText(code), code); }

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == kPathSeparator) return folder + name;
  return folder + kPathSeparator + name;
}

std::string ExtractFileDir(const std::string& path) {
  size_t p = path.find_last_of(kPathSeparator);
  if (p == std::string::npos) return "";
  if (p == 0) return path.substr(0, 1);
  return path.substr(0, p);
}

std::string ExtractFileName(const std::string& path) {
  size_t p = path.find_last_of(kPathSeparator);
  return p == std::string::npos ? path : path.substr(p + 1);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(KernelFileName(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(KernelFileName(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ForceDirectories(const std::string& path) {
  if (path.empty() || DirectoryExists(path)) return;
  std::string parent = ExtractFileDir(path);
  if (!parent.empty() && parent != path) ForceDirectories(parent);
  if (::mkdir(KernelFileName(path).c_str(), 0777) != 0 && errno != EEXIST) ThrowErrno(errno);
}

bool ShareFolderWithDatabaseServer(const std::string& folder) {
  if (::geteuid() != 0) return true;
  const passwd* account = ::getpwnam("firebird");
  if (!account || account->pw_uid == 0) return true;
  const int fd = ::open(KernelFileName(folder).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && st.st_gid != account->pw_gid) ok = ::fchown(fd, static_cast<uid_t>(-1), account->pw_gid) == 0;
  if (ok) ok = ::fchmod(fd, (st.st_mode & 07777) | S_IRWXG | S_ISGID) == 0;
  ::close(fd);
  return ok;
}

std::string ExecutableFolder() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return ".";
  return ExtractFileDir(FromKernelFileName(std::string(buf, static_cast<size_t>(n))));
}

namespace {

// An executable in the system's folders (the package's /usr/bin) shares no
// writable folder with its users.
bool SystemFolder(const std::string& kernelDir) {
  for (const std::string system : {"/usr", "/bin", "/sbin", "/lib", "/lib64"})
    if (kernelDir == system || kernelDir.rfind(system + "/", 0) == 0) return true;
  return false;
}

std::string WithoutTrailingSeparators(std::string dir) {
  while (dir.size() > 1 && dir.back() == kPathSeparator) dir.pop_back();
  return dir;
}

// The user's own program folder: $XDG_DATA_HOME/qndbmgr, by default
// ~/.local/share/qndbmgr, made (for this user alone) on first use; "" when
// the user has no home.
std::string UserDataFolder() {
  const char* xdg = ::getenv("XDG_DATA_HOME");
  const char* home = ::getenv("HOME");
  std::string base;
  if (xdg && *xdg == '/')
    base = xdg;
  else if (home && *home == '/')
    base = std::string(home) + "/.local/share";
  else
    return "";
  const std::string dir = WithoutTrailingSeparators(base) + "/qndbmgr";
  static std::once_flag made;
  std::call_once(made, [&] {
    std::string partial;
    for (size_t at = 1; at != std::string::npos;) {
      at = dir.find('/', at + 1);
      partial = dir.substr(0, at);
      ::mkdir(partial.c_str(), at == std::string::npos ? 0700 : 0755);
    }
  });
  return FromKernelFileName(dir);
}

}  // namespace

std::string ProgramFolder() {
  // Named explicitly: a service's state folder (its executable's folder is
  // not writable).
  const char* home = ::getenv("QNDBMGR_HOME");
  if (home && *home) return FromKernelFileName(WithoutTrailingSeparators(home));
  const std::string exe = ExecutableFolder();
  if (SystemFolder(KernelFileName(exe))) {
    const std::string own = UserDataFolder();
    if (!own.empty()) return own;
  }
  return exe;
}

std::string TempFolder() {
  const char* t = ::getenv("TMPDIR");
  std::string dir = (t && *t) ? FromKernelFileName(t) : "/tmp";
  if (dir.back() != kPathSeparator) dir += kPathSeparator;
  return dir;
}

DriveType GetDriveType(const std::string&) { return DriveType::NoRootDir; }

void MoveFile(const std::string& from, const std::string& to) {
  const std::string target = KernelFileName(to);
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0) ThrowErrno(EEXIST);
  if (::rename(KernelFileName(from).c_str(), target.c_str()) != 0) ThrowErrno(errno);
}

// Makes a rename in a folder (kernel name) durable.
static void SyncFolder(const std::string& dir) {
  int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

void RenameReplacing(const std::string& from, const std::string& to) {
  const std::string target = KernelFileName(to);
  if (::rename(KernelFileName(from).c_str(), target.c_str()) != 0) ThrowErrno(errno);
  SyncFolder(ExtractFileDir(target));
}

void CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  int in = ::open(KernelFileName(from).c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) ThrowErrno(errno);
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  int out = ::open(KernelFileName(to).c_str(), flags, 0666);
  if (out < 0) {
    int e = errno;
    ::close(in);
    ThrowErrno(e);
  }
  char buf[65536];
  int err = 0;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(out, buf, static_cast<size_t>(n))) {
      err = errno;
      break;
    }
  }
  ::close(in);
  if (::close(out) != 0 && err == 0) err = errno;
  if (err != 0) ThrowErrno(err);
}

void DeleteFile(const std::string& path) {
  if (::unlink(KernelFileName(path).c_str()) != 0) ThrowErrno(errno);
}

std::string ReadFile(const std::string& path) {
  int fd = ::open(KernelFileName(path).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    throw Exception("Cannot open file " + path);
  }
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      ThrowErrno(e);
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

namespace {

// The process's file mode mask, read without changing it: setting it to
// learn it would, for that moment, open the files other threads create.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
  return 022;
}

}  // namespace

bool RestrictToOwner(const std::string& path) { return ::chmod(KernelFileName(path).c_str(), 0600) == 0; }

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
  const std::string target = KernelFileName(path);
  std::string dir = ExtractFileDir(target);
  std::string tmpl = JoinPath(dir.empty() ? "." : dir, "." + ExtractFileName(target) + ".XXXXXX");
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) throw Exception("Cannot create file " + path);
  struct stat st;
  // Keep the permissions of the file being replaced.
  if (::stat(target.c_str(), &st) == 0)
    ::fchmod(fd, st.st_mode & 07777);
  else
    ::fchmod(fd, 0666 & ~CurrentUmask());
  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tmpl.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmpl.c_str());
    ThrowErrno(err);
  }
  SyncFolder(dir);
}

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, bool privateFile) {
  const int flags = O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | (privateFile ? O_NOFOLLOW : 0);
  int fd = ::open(KernelFileName(path).c_str(), flags, privateFile ? 0600 : 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  if (privateFile && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<AppendFile>(new AppendFile(fd));
}

AppendFile::~AppendFile() { ::close(static_cast<int>(handle_)); }

void AppendFile::Append(const std::string& bytes) {
  if (!WriteAll(static_cast<int>(handle_), bytes.data(), bytes.size())) ThrowErrno(errno);
}

std::unique_ptr<InputFile> InputFile::Open(const std::string& path) {
  int fd = ::open(KernelFileName(path).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    throw Exception("Cannot open file " + path);
  }
  return std::unique_ptr<InputFile>(new InputFile(fd, static_cast<int64_t>(st.st_size)));
}

InputFile::~InputFile() { ::close(static_cast<int>(handle_)); }

size_t InputFile::Read(char* buffer, size_t capacity) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, capacity);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) ThrowErrno(errno);
  }
}

std::unique_ptr<NewFile> NewFile::Create(const std::string& path) {
  const int fd = ::open(KernelFileName(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) ThrowErrno(errno);
  return std::unique_ptr<NewFile>(new NewFile(fd));
}

NewFile::~NewFile() {
  if (open_) ::close(static_cast<int>(handle_));
}

void NewFile::Write(const char* data, size_t size) {
  if (!WriteAll(static_cast<int>(handle_), data, size)) ThrowErrno(errno);
}

void NewFile::Commit() {
  const int fd = static_cast<int>(handle_);
  open_ = false;
  if (::fsync(fd) != 0) {
    const int e = errno;
    ::close(fd);
    ThrowErrno(e);
  }
  if (::close(fd) != 0) ThrowErrno(errno);
}

int LastErrorCode() { return errno; }
std::string LastErrorText() { return ErrorText(errno); }
std::string ErrorText(int code) {
  char buf[256];
  const char* s = ::strerror_r(code, buf, sizeof buf);
  // Under a Russian desktop's locale the system words its errors in UTF-8.
  std::string text;
  if (std::string_view(::nl_langinfo(CODESET)) == "UTF-8")
    Utf8ToWin1251(s, text);
  else
    text = s;
  return text;
}

void ReadFileChunks(const std::string& path, const std::function<void(const char* data, size_t size)>& onChunk) {
  int fd = ::open(KernelFileName(path).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    throw Exception("Cannot open file " + path);
  }
  std::vector<char> buf(1 << 20);
  try {
    for (;;) {
      ssize_t n = ::read(fd, buf.data(), buf.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ThrowErrno(errno);
      if (n == 0) break;
      onChunk(buf.data(), static_cast<size_t>(n));
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (::stat(KernelFileName(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t FreeDiskSpace(const std::string& folder) {
  struct statvfs vfs;
  if (::statvfs(KernelFileName(folder).c_str(), &vfs) != 0) return -1;
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  const std::string kernel = KernelFileName(folder);
  DIR* dir = ::opendir(kernel.c_str());
  if (!dir) return names;
  while (struct dirent* e = ::readdir(dir)) {
    struct stat st;
    const std::string full = kernel + "/" + e->d_name;
    if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(FromKernelFileName(e->d_name));
  }
  ::closedir(dir);
  return names;
}

}  // namespace qn::platform
