// The folders of the POSIX named objects' namespaces.
#include "platform/named_objects_folders_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"

namespace qn::platform::detail {

namespace {

[[noreturn]] void ThrowErrno(int code) { throw EqnOsError(ErrorText(code), code); }

// Waits on the cross-process locks of this layer are bounded like the log's
// wait, so that a lock file another user holds forever delays, never hangs.
constexpr int kGuardWaitMs = 15000;

// The folder given by QN_OBJECTS_DIR (tests give each run namespaces of its
// own), in the kernel's form.
std::string OverrideFolder() {
  const char* over = ::getenv("QN_OBJECTS_DIR");
  return (over && *over) ? std::string(over) : std::string();
}

constexpr const char* kGlobalFolder = "/run/qndbmgr-objects";
constexpr const char* kGlobalGroup = "qndbmgr";

// Who may be trusted with a namespace folder: the user's own is this user's
// alone; the machine-wide one is root's and no other user may write it.
bool TrustedFolder(const struct stat& st, bool global) {
  if (!S_ISDIR(st.st_mode)) return false;
  if (global) return st.st_uid == 0 && (st.st_mode & S_IWOTH) == 0;
  return st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Makes dir (its parent must exist) unless it exists; true when dir is then
// a folder this user may trust. A folder that someone else made in advance
// with another owner or mode is left alone and fails the check.
bool MakePrivateFolder(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  return ::lstat(dir.c_str(), &st) == 0 && TrustedFolder(st, false);
}

// The group of the machine-wide names: "qndbmgr" where the package made it.
gid_t GlobalGroup() {
  struct group* g = ::getgrnam(kGlobalGroup);
  return g ? g->gr_gid : 0;
}

// Root makes the machine-wide folder: its group may add names (setgid, so
// that they are the group's; sticky, so that no one removes another's).
void MakeGlobalFolder(const std::string& dir) {
  if (::geteuid() != 0) return;
  if (::mkdir(dir.c_str(), 0700) != 0) return;  // exists: checked when opened
  if (::chown(dir.c_str(), 0, GlobalGroup()) != 0 || ::chmod(dir.c_str(), 03775) != 0) ::rmdir(dir.c_str());
}

// The first usable folder of a fixed sequence of candidates, so that every
// process that asks lands on the same one, and one planted by another user
// costs a step of the sequence, not the namespace.
std::string FirstUsable(const std::string& base, const std::string& name) {
  for (int i = 0; i < 10; ++i) {
    std::string dir = JoinPath(base, i == 0 ? name : Format("%s.%d", name.c_str(), i));
    if (MakePrivateFolder(dir)) return dir;
  }
  ThrowErrno(EACCES);
}

}  // namespace

std::string NamespaceFolder(bool global) {
  const std::string over = OverrideFolder();
  if (!over.empty()) {
    struct stat st;
    if (::stat(over.c_str(), &st) != 0 && ::mkdir(over.c_str(), 0777) != 0 && errno != EEXIST) ThrowErrno(errno);
    if (global) {
      const std::string dir = JoinPath(over, ".qn-objects-global");
      MakeGlobalFolder(dir);
      return dir;
    }
    return FirstUsable(over, Format(".qn-objects-%u", ::geteuid()));
  }
  if (global) {
    MakeGlobalFolder(kGlobalFolder);
    return kGlobalFolder;
  }
  const std::string shm = [] {
    struct stat st;
    return ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? std::string("/dev/shm") : KernelFileName(TempFolder());
  }();
  return FirstUsable(shm, Format(".qn-objects-%u", ::geteuid()));
}

int OpenNamespace(const std::string& folder, bool global) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return (errno == ENOENT) ? -1 : (errno = EACCES, -1);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !TrustedFolder(st, global)) {
    ::close(fd);
    errno = EACCES;
    return -1;
  }
  return fd;
}

NamespaceGuard::NamespaceGuard(int folderFd, bool global) {
  fd_ = ::openat(folderFd, ".guard", O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, FileMode(global));
  if (fd_ < 0) ThrowErrno(errno);
  struct stat st;
  if (::fstat(fd_, &st) == 0 && st.st_uid == ::geteuid()) ::fchmod(fd_, FileMode(global));  // past the umask
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardWaitMs);
  auto pause = std::chrono::microseconds(50);
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    if ((e != EWOULDBLOCK && e != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      ::close(fd_);
      ThrowErrno(e == EWOULDBLOCK ? ETIMEDOUT : e);
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(5)) pause *= 2;
  }
}

NamespaceGuard::~NamespaceGuard() { ::close(fd_); }

FolderFd::~FolderFd() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace qn::platform::detail
