// File-system services of the platform layer. Paths are Windows-1251 bytes,
// as everywhere in the system; this layer is the one place where a name
// crosses into the kernel's form and back (UTF-8 on Linux).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qn::platform {

// True where the kernel names files in UTF-8, so that a name handed to a
// server or library of this platform must be converted first.
extern const bool kUtf8FileNames;
// A Windows-1251 name in the kernel's form (UTF-8 here).
std::string KernelFileName(const std::string& name);
// A name the kernel gave back, in Windows-1251; a character that has no
// Windows-1251 code becomes '?'.
std::string FromKernelFileName(const std::string& name);

// The separator this platform's paths use ('\' on Windows, '/' here).
extern const char kPathSeparator;
std::string JoinPath(const std::string& folder, const std::string& name);
// The folder part of a path, without a trailing separator ("" for a bare name).
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileName(const std::string& path);

bool FileExists(const std::string& path);       // a regular file
bool DirectoryExists(const std::string& path);  // a folder
// Creates a folder and its missing parents; throws EqnOsError.
void ForceDirectories(const std::string& path);
// Started by root, the private Firebird server runs as its own account
// (Debian's "firebird"), and it writes the databases and backups itself: a
// folder the program keeps them in becomes that account's group's, writable
// by it, new files following the group (setgid). Nothing when this process
// is not root, where there is no such account, or on Windows. A link is
// never followed. Returns false when the folder could not be changed.
bool ShareFolderWithDatabaseServer(const std::string& folder);

// The folder of the running executable, without a trailing separator.
std::string ExecutableFolder();
// The program folder (settings, data, backup, log), without a trailing
// separator: the executable's folder, as a program copied into a folder of
// its own expects. On Linux, QNDBMGR_HOME names it explicitly (a service's
// state folder); an executable in the system's folders (/usr/bin) uses the
// user's own, $XDG_DATA_HOME/qndbmgr (~/.local/share/qndbmgr). On Windows,
// QNDBMGR_HOME likewise; a program the installer put in place (its folder
// the one recorded under HKLM\Software\qndbmgr "ProgramFolder") keeps its
// state in the folder recorded there as "StateFolder" (under %ProgramData%),
// since the program's own folder is the administrators' only.
std::string ProgramFolder();
// The user's temporary folder, with a trailing separator.
std::string TempFolder();

// The drive types a drive root can have.
enum class DriveType { Unknown = 0, NoRootDir = 1, Removable = 2, Fixed = 3, Remote = 4, CdRom = 5, RamDisk = 6 };
// Type of a drive root such as "C:\". Linux has no drive letters: every
// letter answers as one without a root directory.
DriveType GetDriveType(const std::string& root);

// Moves or renames a file; fails when the target exists. Throws EqnOsError.
void MoveFile(const std::string& from, const std::string& to);
// Renames a file over its target in one step, so that the target's name
// always names the old file or the new one in full, and makes the rename
// durable. Throws EqnOsError; the target is then untouched.
void RenameReplacing(const std::string& from, const std::string& to);
// Copies a file, overwriting the target unless failIfExists. Throws EqnOsError.
void CopyFile(const std::string& from, const std::string& to, bool failIfExists);
void DeleteFile(const std::string& path);  // throws EqnOsError

// Reads a whole file; throws Exception("Cannot open file <path>").
std::string ReadFile(const std::string& path);
// Reads a file piece by piece (a backup may be larger than memory); throws
// as ReadFile does.
void ReadFileChunks(const std::string& path, const std::function<void(const char* data, size_t size)>& onChunk);
// The size of a regular file in bytes, -1 when there is none.
int64_t FileSize(const std::string& path);
// The bytes free for this user on the file system of a folder; -1 when it
// cannot be asked.
int64_t FreeDiskSpace(const std::string& folder);
// The names of the regular files in a folder (no path), empty when the
// folder cannot be read.
std::vector<std::string> ListFiles(const std::string& folder);

// Replaces the content of a file so that a reader only ever sees the old or
// the new content in full: the bytes go to a temporary file in the same
// folder, are flushed to disk and then renamed over the target. On failure
// the target is untouched, the temporary file is removed and the error
// (Exception "Cannot create file <path>" or EqnOsError) propagates.
void WriteFileReplacing(const std::string& path, const std::string& bytes);

// A file read from the start, piece by piece, by a caller that pulls (a
// copy's source). Open throws as ReadFile does.
class InputFile {
 public:
  static std::unique_ptr<InputFile> Open(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  int64_t Size() const { return size_; }
  // Up to capacity bytes; 0 only at the end. Throws EqnOsError.
  size_t Read(char* buffer, size_t capacity);

 private:
  InputFile(intptr_t handle, int64_t size) : handle_(handle), size_(size) {}
  intptr_t handle_;
  int64_t size_;
};

// A file written from its first byte under a name that nothing else uses
// (a write's temporary name): Create fails when anything is there under
// the name, links included. Commit makes the bytes durable and closes it;
// a file given up before is closed, and its name is the caller's to remove.
class NewFile {
 public:
  static std::unique_ptr<NewFile> Create(const std::string& path);  // throws EqnOsError
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  void Write(const char* data, size_t size);  // throws EqnOsError
  void Commit();                              // throws EqnOsError

 private:
  explicit NewFile(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;
  bool open_ = true;
};

// Leaves a file that holds secrets readable and writable by its owner only
// (a no-op where the folder's access rules decide, as on Windows). False
// when the file is missing or its mode cannot be changed.
bool RestrictToOwner(const std::string& path);

// A file opened for appending records, shared with other writers.
class AppendFile {
 public:
  // Opens an existing file for reading and writing, or creates it; nullptr
  // when that is not possible. A private file (one in a folder that other
  // users can write, such as the temporary folder) is never reached through
  // a link and must belong to this user.
  static std::unique_ptr<AppendFile> Open(const std::string& path, bool privateFile = false);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  // Writes at the end of the file; throws EqnOsError on failure.
  void Append(const std::string& bytes);

 private:
  explicit AppendFile(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;  // a file descriptor here, a HANDLE on Windows
};

// The system's text for the last error of the calling thread.
std::string LastErrorText();
int LastErrorCode();
std::string ErrorText(int code);

}  // namespace qn::platform
