// The folders of the POSIX named objects' namespaces (see
// named_objects_posix.cpp): which folder a namespace lives in, whether it
// may be trusted, and the lock that serialises creation and opening in it.
#pragma once

#include <sys/types.h>

#include <string>

namespace qn::platform::detail {

// The folder of a namespace, in the kernel's form. The per-user one is made
// on first use; the machine-wide one only by root.
std::string NamespaceFolder(bool global);

// The namespace folder opened as a descriptor and checked through it, so
// that the folder checked is the folder used. -1 with errno: ENOENT when it
// is not there, EACCES when it may not be trusted.
int OpenNamespace(const std::string& folder, bool global);

// The mode of a name's file: the user's alone, or root's and its group's.
inline mode_t FileMode(bool global) { return global ? 0660 : 0600; }

// Exclusive hold of a namespace's ".guard" file, per thread and per process,
// for a bounded time. Only those who may use the namespace can open it: the
// user, or in the machine-wide one root and its group. Throws EqnOsError.
class NamespaceGuard {
 public:
  NamespaceGuard(int folderFd, bool global);
  ~NamespaceGuard();
  NamespaceGuard(const NamespaceGuard&) = delete;
  NamespaceGuard& operator=(const NamespaceGuard&) = delete;

 private:
  int fd_;
};

// An open namespace folder, closed at the end of the scope.
class FolderFd {
 public:
  FolderFd(const std::string& folder, bool global) : fd_(OpenNamespace(folder, global)) {}
  ~FolderFd();
  FolderFd(const FolderFd&) = delete;
  FolderFd& operator=(const FolderFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace qn::platform::detail
